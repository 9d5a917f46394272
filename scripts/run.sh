#!/bin/sh
# Sets everything up, builds and runs the main example.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
exec build/examples/osmo_tour
