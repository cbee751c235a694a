#!/usr/bin/env bash
# What a second thread gains, against what this machine lets two threads
# gain, as markdown. For each input:
#   - packing at -t1 and -t2, and two -t1 packs of the same input side by
#     side: their shared cache and memory bandwidth cap any two threads, so
#     2 x (one -t1) / (two side by side) is the ceiling for -t2;
#   - unpacking an indexed archive (-i) at -t1 and -t2, with the same ceiling;
#   - lbzip2 -9 at -n1 and -n2, packing and unpacking, on the same machine.
# Each repetition runs every command once, in turn, so a change of load hits
# them alike; speed-ups are the medians of the ratios within repetitions.
# Every unpacked file is compared with its input, and the -t1 and -t2
# archives must be the same bytes.
#
# usage: bench/scaling.sh > scaling.md
# environment: VORB (default build/vorb), BENCH_DIR (default /tmp/vorb-bench),
#   REPS (default 5), INPUTS (default: kernel-c.txt libllvm.so mixed.tar; see
#   make_inputs.sh)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
reps="${REPS:-5}"
read -r -a inputs <<<"${INPUTS:-kernel-c.txt libllvm.so mixed.tar}"
name=scaling
# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
bench_begin

# Wall seconds of one run of the shell command $1.
wall() {
  /usr/bin/time -f '%e' -o "$work/t" sh -c "$1" </dev/null || die "failed: $1"
  cat "$work/t"
}

# The shell command $1 with {n} replaced by $2.
nth() { echo "${1//\{n\}/$2}"; }

# Two copies of the shell command $1 at once, copy n writing where {n} says.
both() { echo "($(nth "$1" 1)) & ($(nth "$1" 2)); wait"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }'; }

echo "## Two threads against one"
echo
echo "$(nproc) cores, $(uname -m), load $(cut -d' ' -f1-3 /proc/loadavg) at the start; medians of $reps repetitions."
echo "Ceiling: twice one \`-t1\` run's time over two \`-t1\` runs side by side."
echo
echo "| input | MiB | pack -t1 | pack -t2 | speed-up | ceiling | lbzip2 -n2 / -n1 | unpack -i -t1 | unpack -i -t2 | speed-up | ceiling | lbzip2 -d -n2 / -n1 |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for name in "${inputs[@]}"; do
  input="$dir/inputs/$name"
  say "$name"
  lbzip2 -9 -n2 -c "$input" >"$work/in.bz2"
  pack1="'$vorb' -q -f -t1 e '$work/p{n}.vb' '$input'"
  pack2="'$vorb' -q -f -t2 e '$work/q.vb' '$input'"
  "$vorb" -q -f -t1 -i e "$work/indexed.vb" "$input"
  unpack1="'$vorb' -q -t1 -c d '$work/indexed.vb' >'$work/out{n}'"
  unpack2="'$vorb' -q -t2 -c d '$work/indexed.vb' >'$work/out3'"
  : >"$work/rows"
  for ((i = 0; i < reps; i++)); do
    p1=$(wall "$(nth "$pack1" 1)")
    p2=$(wall "$pack2")
    pb=$(wall "$(both "$pack1")")
    l1=$(wall "lbzip2 -9 -n1 -c '$input' >/dev/null")
    l2=$(wall "lbzip2 -9 -n2 -c '$input' >/dev/null")
    u1=$(wall "$(nth "$unpack1" 1)")
    u2=$(wall "$unpack2")
    ub=$(wall "$(both "$unpack1")")
    d1=$(wall "lbzip2 -d -n1 -c '$work/in.bz2' >/dev/null")
    d2=$(wall "lbzip2 -d -n2 -c '$work/in.bz2' >/dev/null")
    cmp -s "$work/p1.vb" "$work/q.vb" || die "$name: the -t1 and -t2 archives differ"
    for f in out1 out2 out3; do cmp -s "$input" "$work/$f" || die "$name: unpacked bytes differ from the input"; done
    # p1 p2 speed-up side-by-side lbzip2 | u1 u2 speed-up side-by-side lbzip2
    echo "$p1 $p2 $(ratio "$p1" "$p2") $pb $(ratio "$l1" "$l2") $u1 $u2 $(ratio "$u1" "$u2") $ub $(ratio "$d1" "$d2")" >>"$work/rows"
  done
  col() { awk -v c="$1" '{ print $c }' "$work/rows" | median; }
  # Ceilings per repetition: 2 x t1 / side by side.
  pc=$(awk '{ print 2 * $1 / $4 }' "$work/rows" | median)
  uc=$(awk '{ print 2 * $6 / $9 }' "$work/rows" | median)
  printf '| %s | %s | %s s | %s s | %.2fx | %.2fx | %.2fx | %s s | %s s | %.2fx | %.2fx | %.2fx |\n' "$name" \
    "$(($(stat -c %s "$input") >> 20))" "$(col 1)" "$(col 2)" "$(col 3)" "$pc" "$(col 5)" \
    "$(col 6)" "$(col 7)" "$(col 8)" "$uc" "$(col 10)"
done
rm -rf "$work"
