#!/usr/bin/env bash
# Runs the multi-threaded tests under ThreadSanitizer (the program's and, for
# indexed members decoded on two threads in the test process, the
# library's own threads): the program itself is
# built with it, since the tests drive the real binary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORB_SANITIZE=thread -DVORB_BUILD_TESTS=ON >/dev/null
cmake --build build-tsan -j2 --target vorb vorb_tests
export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
timeout 600 ./build-tsan/tests/vorb_tests --gtest_filter='Threads.*:IndexedArchive.*:WorkerPool.*:BlockHandoff.*:InverseTransform.WalksShared*:SortHelper.*'
