#!/bin/sh
# Builds a fuzzer (libFuzzer with the address and undefined-behaviour
# sanitizers) and runs it for the given number of seconds (default 60).
# The target is "typeencoding" (the type-encoding walkers, the default),
# "decl" (the Perl binding's type declarations) or "typedstream" (the
# typed-stream reader, fed archives without their checksummed container).
# The build goes to $FUZZ_BUILD_DIR (default build-fuzz/).  New
# interesting inputs collect in <build>/corpus/<target>; crashing inputs
# land in <build>/artifacts/ and belong, once fixed, in
# fuzz/corpus/<target>, which every normal test run replays.  Further
# arguments go to libFuzzer (-jobs=2, -max_len=...).
#
#     sh scripts/fuzz.sh 600
#     FUZZ_BUILD_DIR=build-decl-fuzz sh scripts/fuzz.sh 600 decl
#     FUZZ_BUILD_DIR=build-ts-fuzz sh scripts/fuzz.sh 600 typedstream
#
# The typed-stream seeds are archives the writer made; the fuzz target
# writes them again with
#     TYPEDSTREAM_FUZZ_SEEDS=fuzz/corpus/typedstream build/fuzz/typedstream_fuzz_replay
set -e
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=${2:-typeencoding}
build=${FUZZ_BUILD_DIR:-build-fuzz}
[ $# -gt 2 ] && shift 2 || set --

maxlen=1024
case "$target" in
typeencoding) dict="-dict=fuzz/typeencoding.dict" ;;
decl) dict="-dict=fuzz/decl.dict" ;;
typedstream) dict="-dict=fuzz/typedstream.dict"; maxlen=4096 ;;
*) echo "unknown fuzz target: $target (typeencoding, decl or typedstream)" >&2; exit 2 ;;
esac

cmake -S . -B "$build" -DBQ_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${target}_fuzzer" -j "$(nproc)"
mkdir -p "$build/corpus/$target" "$build/artifacts"

# GNUstep keeps process-lifetime allocations that the leak checker would
# report at exit; the fuzzer's own per-input leak check stays on, with the
# runtime's and GNUstep's own load-time allocations suppressed.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:leak_check_at_exit=0}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(pwd)/fuzz/lsan.supp:print_suppressions=0}"
exec "$build/fuzz/${target}_fuzzer" \
    -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 \
    $dict -artifact_prefix="$build/artifacts/" "$@" \
    "$build/corpus/$target" "fuzz/corpus/$target"
