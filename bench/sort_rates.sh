#!/usr/bin/env bash
# Builds the sort benchmark in Release and prints the sort rates of the
# forward transform and of divbwt on five 4 MiB blocks (the best of a few
# runs each).
#
# usage: bench/sort_rates.sh [repeats]   (environment: BUILD, VORB_CORPUS)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build-bench}"
corpus="${VORB_CORPUS:-$root/data/corpus}"
libs=/usr/lib/x86_64-linux-gnu
binaries=()
for f in "$libs/libstdc++.so.6" "$libs/libc.so.6" "$libs/libm.so.6" /usr/bin/cmake; do
  [ -e "$f" ] && binaries+=("$f")
done

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORB_BUILD_BENCH=ON -DVORB_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target sort_bench >/dev/null
"$build/bench/sort_bench" "$corpus" "${1:-3}" "${binaries[@]}"
