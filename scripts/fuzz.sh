#!/bin/sh
# Builds the type-encoding fuzzer (libFuzzer with the address and
# undefined-behaviour sanitizers) in build-fuzz/ and runs it for the given
# number of seconds (default 60).  New interesting inputs collect in
# build-fuzz/corpus/typespec; crashing inputs land in build-fuzz/artifacts/
# and belong, once fixed, in fuzz/corpus/typespec, which every normal test
# run replays.
#
#     sh scripts/fuzz.sh 600
set -e
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake -S . -B build-fuzz -DBQ_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target typespec_fuzzer -j "$(nproc)"
mkdir -p build-fuzz/corpus/typespec build-fuzz/artifacts

# GNUstep keeps process-lifetime allocations that the leak checker would
# report at exit; the fuzzer's own per-input leak check stays on.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:leak_check_at_exit=0}"
exec build-fuzz/fuzz/typespec_fuzzer \
    -max_total_time="$seconds" -max_len=1024 -timeout=10 \
    -dict=fuzz/typespec.dict -artifact_prefix=build-fuzz/artifacts/ \
    build-fuzz/corpus/typespec fuzz/corpus/typespec
