#!/bin/sh
# Builds everything and runs every benchmark; each prints its ratios
# against a baseline measured in the same run.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
if ! dpkg-query -W -f='${Status}' libffi-platypus-perl 2>/dev/null | grep -q "ok installed"; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq libffi-platypus-perl >/dev/null
fi
for program in build/bench/*; do
  if [ -f "$program" ] && [ -x "$program" ]; then
    echo "== $(basename "$program")"
    "$program"
  fi
done
for script in bench/*.pl; do
  echo "== $(basename "$script")"
  perl -Mblib=build "$script"
done
