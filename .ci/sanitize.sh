#!/usr/bin/env bash
# Builds the unit and whole-program tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them. The tests start the sanitized
# program too, so a fault in a child run fails its test (exit status 1).
#
#   BUILD_DIR    build directory (default build-asan)
#   JOBS         parallel build and test jobs (default 2)
#   VORB_SANITIZE_EXCLUDE  ctest -E regex of tests left out; set it empty to
#                run everything. By default the slowest is left out, which
#                takes most of a minute when sanitized: some 1300 starts of
#                the program on bit-flipped archives. The decoder runs
#                sanitized on flipped archives elsewhere: in-process
#                (FuzzSeeds) and in .ci/fuzz.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-asan}
JOBS=${JOBS:-2}
EXCLUDE=${VORB_SANITIZE_EXCLUDE-'^DamagedArchive\.CutAtEveryOffsetAndSingleBitFlips$'}

scripts/setup.sh --tests

# Assertions stay on (no NDEBUG), so the sort's internal checks run too.
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" \
  -DVORB_SANITIZE=address,undefined -DVORB_BUILD_TESTS=ON
cmake --build "$BUILD_DIR" -j"$JOBS"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

args=(--test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS")
[ -n "$EXCLUDE" ] && args+=(-E "$EXCLUDE")
ctest "${args[@]}"
