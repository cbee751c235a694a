#!/usr/bin/env bash
# Runs the multi-threaded tests under ThreadSanitizer (the program's and, for
# indexed members decoded on two threads in the test process, the
# library's own threads): the program itself is
# built with it, since the tests drive the real binary.
set -euo pipefail
cd "$(dirname "$0")/.."

# The cases that run threads, as gtest patterns. Each must match at least one
# case, so a suite that is renamed or removed stops the run here instead of
# silently dropping out of it.
patterns=('Threads.*' 'IndexedArchive.*' 'WorkerPool.*' 'BlockHandoff.*' 'InverseTransform.WalksShared*'
          'SortHelper.*' 'Api.CallbacksThatFailOrReadShort')

scripts/setup.sh --tests
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORB_SANITIZE=thread -DVORB_BUILD_TESTS=ON >/dev/null
cmake --build build-tsan -j2 --target vorb vorb_tests
tests=./build-tsan/tests/vorb_tests

unmatched=0
for p in "${patterns[@]}"; do
  # Listed cases are the indented lines; the unindented ones name suites.
  if ! "$tests" --gtest_list_tests --gtest_filter="$p" | grep -q '^  '; then
    echo "tsan: no test case matches '$p'; was its suite renamed? Fix the list in .ci/tsan.sh" >&2
    unmatched=1
  fi
done
[ "$unmatched" = 0 ] || exit 1

export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
filter=$(IFS=:; echo "${patterns[*]}")
# A bound against a hang, not a speed check: the bit-flip sweep alone takes
# about 7 minutes under the sanitizer on a busy 2-core machine.
timeout 1800 "$tests" --gtest_filter="$filter"
