#!/usr/bin/env bash
# Builds the option-line fuzz target with clang, libFuzzer and the address and
# undefined-behaviour sanitizers, then fuzzes it for N seconds (default 60).
#
#   scripts/fuzz.sh [seconds]
#
# The committed corpus (fuzz/corpus/options) is read, never written: new inputs
# go to a scratch folder, which is also the working folder of the run. Crashes,
# leaks and timeouts leave their reproducer (crash-*, leak-*, timeout-*) there
# and fail the script.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${VEXA_FUZZ_BUILD:-$root/build/fuzz}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVEXA_FUZZ=ON -DVEXA_SANITIZE=ON -DVEXA_BUILD_TESTS=OFF -DVEXA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_options -j2

work=$(mktemp -d /tmp/vexa-fuzz-XXXXXX)
mkdir -p "$work/corpus"
echo "fuzz: working folder $work"
cd "$work"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}

"$build/fuzz/fuzz_options" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=2048 \
  -dict="$root/fuzz/options.dict" -print_final_stats=1 "$work/corpus" "$root/fuzz/corpus/options"
