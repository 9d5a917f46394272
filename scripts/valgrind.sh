#!/bin/sh
# Builds the normal build/ (scripts/setup.sh) and runs every Perl test
# file, t/*.t, with perl under valgrind's memcheck.  PERL_DESTRUCT_LEVEL=2
# makes perl free its own memory at exit, so what is left is a leak.
# Findings that belong to glibc's loader, perl, libobjc or GNUstep
# themselves are suppressed, each with its reason, by scripts/valgrind.supp.
# Prints one line per test file (and every finding that counts, with its
# stack) and fails when a test fails, or on any memory error or definite
# leak through our library (see scripts/valgrind-report.pl).  The XML,
# and the test's own output, stay in build/valgrind/.
#
#     sh scripts/valgrind.sh            every test file
#     sh scripts/valgrind.sh t/ptr.t    some of them
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh >/dev/null
root=$(pwd)
logs=build/valgrind
mkdir -p "$logs"

# --run-libc-freeres=no: glibc's own clean-up, which valgrind runs at
#     exit, unloads GNUstep-base and libobjc along with the character-set
#     modules GNUstep loaded, and memory held by their static variables
#     would then look lost.
# --keep-debuginfo=yes: stacks of code unloaded before the end stay named.
# --track-origins=yes: a use of an uninitialised value says where the
#     value came from.
# --error-exitcode is not used: scripts/valgrind-report.pl decides from
#     the XML, since only definite leaks through our code count.
run_one() {
  name=$(basename "$1" .t)
  case "$1" in
  /*) path=$1 ;;
  *) path=$root/$1 ;;
  esac
  set +e
  (cd build && PERL_DESTRUCT_LEVEL=2 valgrind --tool=memcheck \
      --run-libc-freeres=no --keep-debuginfo=yes --track-origins=yes \
      --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
      --num-callers=40 --suppressions="$root/scripts/valgrind.supp" \
      --xml=yes --xml-file="valgrind/$name.xml" \
      perl -Mblib "$path" >"valgrind/$name.out" 2>&1)
  status=$?
  set -e
  if ! perl scripts/valgrind-report.pl "$name.t" "$status" "$logs/$name.xml"; then
    echo "    (test output: $logs/$name.out; valgrind's XML: $logs/$name.xml)"
    return 1
  fi
}

if [ $# -eq 0 ]; then
  set -- t/*.t
fi
echo "== memcheck over $# test file(s); logs in $logs/"
failed=0
for test in "$@"; do
  run_one "$test" || failed=$((failed + 1))
done
if [ "$failed" -ne 0 ]; then
  echo "valgrind: $failed of $# test file(s) failed"
  exit 1
fi
echo "valgrind: all $# test file(s) clean"
