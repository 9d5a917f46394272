#!/bin/sh
# Builds everything, makes sure the Perl benchmark's comparison library
# (FFI::Platypus) is installed, and runs every benchmark through bench/run,
# which prints one table of ratios against baselines measured in the same
# run.  Arguments go to bench/run (e.g. --verbose, --soak=SECONDS).
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
if ! dpkg-query -W -f='${Status}' libffi-platypus-perl 2>/dev/null | grep -q "ok installed"; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq libffi-platypus-perl >/dev/null
fi
exec perl bench/run "$@"
