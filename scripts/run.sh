#!/bin/sh
# Sets everything up, builds and runs the main job: a tour of Foundation
# used from Perl through the Vantle module, then a host program in which
# Objective-C code drives the embedded Perl interpreter, then a web
# application scripted in Perl answering requests in the same process.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
echo "== Perl using Foundation (examples/tour.pl)"
perl -Mblib=build examples/tour.pl
echo
echo "== Objective-C driving Perl (examples/interp_tour.mm)"
build/examples/interp_tour
echo
echo "== A web application scripted in Perl (examples/todo/render.pl)"
exec perl -Mblib=build examples/todo/render.pl
