#!/usr/bin/env bash
# What the index's block checksums cost, as markdown: packing and unpacking
# at -t1 with -i (index version 2) against the plain archive, and against a
# build that writes version 1 (OLD_VORB, e.g. the previous release); and
# unpacking a version 1 archive with this build against the old one. Each
# figure is the median ratio of PAIRS pairs of whole-process runs taken in
# turn (A, B, A, B, ...), so a machine whose speed drifts during the series
# moves both sides of a pair alike. Every unpacked file is compared with
# its input.
#
# usage: bench/index_cost.sh > report.md
# environment: VORB (default build/vorb), OLD_VORB (a build writing index
#   version 1; its columns are left out without it), BENCH_DIR (default
#   /tmp/vorb-bench), PAIRS (default 5), INPUTS (default: kernel-c.txt
#   libllvm.so server.log mixed.tar; see make_inputs.sh)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
pairs="${PAIRS:-5}"
read -r -a inputs <<<"${INPUTS:-kernel-c.txt libllvm.so server.log mixed.tar}"
name=index_cost
# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
bench_begin
old="${OLD_VORB:+$(realpath -m -- "$OLD_VORB")}"
mkdir -p "$work/out"

# Wall seconds of one run of the shell command $1 in $work/out.
wall() {
  (cd "$work/out" && /usr/bin/time -f '%e' -o "$work/t" sh -c "$1" >/dev/null </dev/null) || die "failed: $1"
  cat "$work/t"
}

# Median over PAIRS pairs of the ratio of A's wall time ($1) to B's ($2).
paired() {
  local i a b
  for ((i = 0; i < pairs; i++)); do
    a=$(wall "$1")
    b=$(wall "$2")
    awk -v a="$a" -v b="$b" 'BEGIN { printf "%.4f\n", (b > 0) ? a / b : 0 }'
  done | median
}

pct() { awk -v r="$1" 'BEGIN { printf "%+.1f %%", 100 * (r - 1) }'; }

echo "## What index version 2 costs at -t1"
echo
echo "$(nproc) cores, $(uname -m), load $(cut -d' ' -f1-3 /proc/loadavg) at the start; medians of $pairs"
echo "alternating pairs of whole-process runs (\`/usr/bin/time -f %e\`), as A against B."
echo
head="| input | MiB | pack -i / plain | unpack -i / plain |"
rule="|---|---|---|---|"
[ -n "$old" ] && head+=" pack -i / old -i | unpack -i / old -i | old archive: unpack / old unpack |" && rule+="---|---|---|"
echo "$head"
echo "$rule"
for name in "${inputs[@]}"; do
  input="$dir/inputs/$name"
  cp "$input" "$work/out/$name"
  (cd "$work/out" && "$vorb" -q -t1 e "$work/plain" "$name" && "$vorb" -q -t1 -i e "$work/v2" "$name")
  pack=$(paired "'$vorb' -q -t1 -i e '$work/a' '$name'" "'$vorb' -q -t1 e '$work/b' '$name'")
  row="| $name | $(($(stat -c %s "$input") >> 20)) | $(pct "$pack")"
  if [ -n "$old" ]; then
    (cd "$work/out" && "$old" -q -t1 -i e "$work/v1" "$name")
    pack_old=$(paired "'$vorb' -q -t1 -i e '$work/a' '$name'" "'$old' -q -t1 -i e '$work/b' '$name'")
  fi
  rm "$work/out/$name"
  unpack=$(paired "'$vorb' -q -t1 -c d '$work/v2' >/dev/null" "'$vorb' -q -t1 -c d '$work/plain' >/dev/null")
  row+=" | $(pct "$unpack")"
  if [ -n "$old" ]; then
    unpack_old=$(paired "'$vorb' -q -t1 -c d '$work/v2' >/dev/null" "'$old' -q -t1 -c d '$work/v1' >/dev/null")
    read_v1=$(paired "'$vorb' -q -t1 -c d '$work/v1' >/dev/null" "'$old' -q -t1 -c d '$work/v1' >/dev/null")
    row+=" | $(pct "$pack_old") | $(pct "$unpack_old") | $(pct "$read_v1")"
    "$vorb" -q -t1 -c d "$work/v1" | cmp -s - "$input" || die "$name: the old archive unpacks to other bytes"
  fi
  "$vorb" -q -t1 -c d "$work/v2" | cmp -s - "$input" || die "$name: unpacked bytes differ from the input"
  echo "$row |"
done
