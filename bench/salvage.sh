#!/usr/bin/env bash
# What salvage costs against a plain unpack, as markdown: a 64 MiB archive
# (libllvm.so, mixed.tar, kernel-c.txt, server.log and 27,000,000 random
# bytes of a fixed seed, in 4 MiB blocks) with one 512-byte sector of random
# bytes at one of three places: the first member's first block, the middle of
# the archive, the last member. Median wall times of REPS runs of
# `vorb -q d` on the intact archive and `vorb -q --salvage d` on the damaged
# one, taken in turn, plain and indexed; every member salvage calls whole is
# compared with its input.
#
# usage: bench/salvage.sh > report.md
# environment: VORB (default build/vorb), BENCH_DIR (default /tmp/vorb-bench),
#   REPS (default 3), THREADS (default 2)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
reps="${REPS:-3}"
threads="${THREADS:-2}"
inputs=(libllvm.so mixed.tar kernel-c.txt server.log)
name=salvage
# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
bench_begin
src="$work/src"
mkdir -p "$src" "$work/d" "$work/s"
for i in "${inputs[@]}"; do cp "$dir/inputs/$i" "$src/$i"; done
/usr/bin/python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(1).randbytes(27000000))' >"$src/random.bin"
members=("${inputs[@]}" random.bin)

wall() {
  local at="$1"
  shift
  (cd "$at" && /usr/bin/time -f '%e' -o "$work/t" "$@" >/dev/null 2>&1 </dev/null) || true
  cat "$work/t"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

echo "## Salvage against a plain unpack"
echo
echo "$(nproc) cores, $(uname -m), -t$threads; medians of $reps runs of each, taken in turn (\`/usr/bin/time -f %e\`)."
echo
echo "| archive | damaged sector at | d (intact) | --salvage d | ratio | members whole |"
echo "|---|---|---|---|---|---|"
for kind in plain indexed; do
  flag=""
  [ "$kind" = indexed ] && flag=-i
  (cd "$src" && "$vorb" -q -t"$threads" $flag e "$work/$kind.vorb" "${members[@]}")
  size=$(stat -c %s "$work/$kind.vorb")
  for sector in 200 $((size / 1024)) $(((size - (2 << 20)) / 512)); do
    cp "$work/$kind.vorb" "$work/damaged.vorb"
    /usr/bin/python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(2).randbytes(512))' |
      dd of="$work/damaged.vorb" bs=512 seek="$sector" conv=notrunc 2>/dev/null
    a=() b=()
    for ((i = 0; i < reps; i++)); do
      rm -rf "$work/d"/* "$work/s"/*
      a+=("$(wall "$work/d" "$vorb" -q -t"$threads" d "$work/$kind.vorb")")
      b+=("$(wall "$work/s" "$vorb" -q -t"$threads" --salvage d "$work/damaged.vorb")")
    done
    whole=0
    for m in "${members[@]}"; do cmp -s "$src/$m" "$work/s/_$m" && whole=$((whole + 1)); done
    d_med=$(printf '%s\n' "${a[@]}" | median)
    s_med=$(printf '%s\n' "${b[@]}" | median)
    printf '| %s, %s MiB | %s (byte %s) | %s s | %s s | %s | %s of %s |\n' "$kind" "$((size >> 20))" "$sector" \
      "$((sector * 512))" "$d_med" "$s_med" "$(ratio "$s_med" "$d_med")" "$whole" "${#members[@]}"
  done
done
rm -rf "$work"
