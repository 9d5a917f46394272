#!/bin/sh
# Sets everything up, builds and runs the main example: a tour of
# Foundation used from Perl through the Vantle module.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
exec perl -Mblib=build examples/tour.pl
