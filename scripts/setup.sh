#!/bin/sh
# Installs the Debian packages the build and the tests need (quietly, and
# only when one is missing), then configures and builds into build/.
set -e
cd "$(dirname "$0")/.."

PACKAGES="clang cmake make libobjc-12-dev libgnustep-base-dev libffi-dev tcl-dev
libperl-dev perl perl-doc libgtest-dev googletest valgrind libclang-rt-14-dev pkgconf
libplack-perl starman libhttp-message-perl chromium"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq $missing >/dev/null
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
