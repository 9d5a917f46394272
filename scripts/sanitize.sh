#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (cmake -DBQ_SANITIZE=ON, see cmake/Sanitize.cmake) and
# runs the whole suite there.  A memory error, undefined behaviour or a
# leak fails the test that caused it; the leaks the suite accepts from
# libobjc and GNUstep themselves are listed, with their reasons, in
# sanitize/lsan.supp.  The Perl tests run /usr/bin/perl with the sanitizer
# runtime preloaded and PERL_DESTRUCT_LEVEL=2.  Extra arguments go to
# ctest, e.g. `sh scripts/sanitize.sh -R perl/`.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
cmake -S . -B build-asan -DBQ_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j "$(nproc)"
cd build-asan
exec ctest -j "$(nproc)" --output-on-failure "$@"
