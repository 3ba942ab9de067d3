#!/usr/bin/env bash
# Set-up, configure, build and run the whole test suite: once in the normal
# configuration and once with the address and undefined-behaviour sanitizers.
#
#   scripts/test.sh                 everything (installs missing packages first)
#   VEXA_TEST_CONFIGS=release scripts/test.sh     only the normal build
#   VEXA_TEST_CONFIGS=sanitize scripts/test.sh    only the sanitizer build
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
configs=${VEXA_TEST_CONFIGS:-"release sanitize"}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}

# ccache keeps compiled objects between runs and between clones: paths below
# the project folder are hashed relative to it.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

status=0
for config in $configs; do
  dir="build/$config"
  case "$config" in
    release)  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXA_SANITIZE=OFF) ;;
    sanitize) flags=(-DCMAKE_BUILD_TYPE=Debug -DVEXA_SANITIZE=ON -DVEXA_BUILD_BENCH=OFF) ;;
    *) echo "test.sh: unknown configuration $config" >&2; exit 2 ;;
  esac
  echo "=== $config: configure"
  cmake -S . -B "$dir" "${flags[@]}" "${launcher[@]}" >/dev/null
  echo "=== $config: build"
  cmake --build "$dir" -j "$jobs"
  echo "=== $config: test"
  # A suite that fails is run once more, with its first output kept in the log:
  # the recording suites measure timing on a shared two-core machine, and a
  # null sink that re-tunes its latency can hold back the first sound of a run.
  if ! scripts/test-env.sh ctest --test-dir "$dir" --output-on-failure -j "$jobs" --repeat until-pass:2; then
    status=1
  fi
done
exit $status
