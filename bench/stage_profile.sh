#!/usr/bin/env bash
# Builds the stage profile in Release and prints, for each input made by
# make_inputs.sh, the rate of each stage of packing and unpacking alone.
#
# usage: bench/stage_profile.sh [repeats]
# environment: BUILD (default build-bench), BENCH_DIR (default /tmp/vorb-bench),
#              INPUTS (default: kernel-c.txt libllvm.so server.log mixed.tar)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build-bench}"
dir="${BENCH_DIR:-/tmp/vorb-bench}"
read -r -a inputs <<<"${INPUTS:-kernel-c.txt libllvm.so server.log mixed.tar}"

BENCH_DIR="$dir" "$root/bench/make_inputs.sh" "${inputs[@]}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORB_BUILD_BENCH=ON -DVORB_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target stage_profile >/dev/null
files=()
for name in "${inputs[@]}"; do files+=("$dir/inputs/$name"); done
"$build/bench/stage_profile" "${1:-3}" "${files[@]}"
