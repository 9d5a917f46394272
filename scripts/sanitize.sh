#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (cmake -DBQ_SANITIZE=ON, see cmake/Sanitize.cmake) and
# runs the whole suite there, then the host programs under examples/.  A
# memory error, undefined behaviour or a leak fails the test (or program)
# that caused it; the leaks accepted from libobjc and GNUstep themselves
# are listed, with their reasons, in sanitize/lsan.supp.  The Perl tests
# run /usr/bin/perl with the sanitizer runtime preloaded and
# PERL_DESTRUCT_LEVEL=2.  Extra arguments go to ctest, e.g.
#
#     sh scripts/sanitize.sh -R perl/
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
cmake -S . -B build-asan -DBQ_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j "$(nproc)"
cd build-asan
ctest -j "$(nproc)" --output-on-failure "$@"

# The examples are instrumented programs too; their output is not the
# point here, only what the sanitizers report on standard error.
for program in examples/osmo_tour examples/interp_tour; do
  if ! "./$program" >/dev/null; then
    echo "sanitize: $program failed" >&2
    exit 1
  fi
done
echo "sanitize: the suite and the examples ran clean"
