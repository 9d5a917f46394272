#!/bin/sh
# Sets everything up, builds and runs the main job: a tour of Foundation
# used from Perl through the Vantle module, then a host program in which
# Objective-C code drives the embedded Perl interpreter.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
echo "== Perl using Foundation (examples/tour.pl)"
perl -Mblib=build examples/tour.pl
echo
echo "== Objective-C driving Perl (examples/interp_tour.mm)"
exec build/examples/interp_tour
