#!/bin/sh
# Sets everything up, builds from scratch when needed and runs the whole
# suite (GoogleTest and the Perl tests) under CTest.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cd build
exec ctest --output-on-failure
