#!/usr/bin/env bash
# What a recovery record costs and how fast it is checked, as markdown:
#   - packing at -t1 with -r 5 against -i alone (and bzip2 -9 as the
#     reference), run in turn; the archive's size against the -i archive's;
#   - vorb r on an undamaged archive of 64 MiB of incompressible data (a pass
#     of checksums) beside md5sum and cat of the same file, run in turn;
#   - vorb r repairing a copy of it with a 4 % burst of zeros.
# Median wall times of REPS runs; every record is checked by vorb r and the
# bytes in front of it must be the -i archive.
#
# usage: bench/recovery.sh > report.md
# environment: VORB (default build/vorb), BENCH_DIR (default /tmp/vorb-bench),
#   REPS (default 5), INPUTS (default: kernel-c.txt libllvm.so calgary.tar;
#   see make_inputs.sh), CHECK_MIB (default 64; 0 skips the vorb r figures)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
reps="${REPS:-5}"
check_mib="${CHECK_MIB:-64}"
read -r -a inputs <<<"${INPUTS:-kernel-c.txt libllvm.so calgary.tar}"
name=recovery
# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
bench_begin
mkdir -p "$work/out"

# Wall seconds of one run of "$@" in $work/out.
wall() {
  (cd "$work/out" && /usr/bin/time -f '%e' -o "$work/t" "$@" >/dev/null </dev/null) || die "failed: $*"
  cat "$work/t"
}

pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.2f %%", (b > 0) ? 100 * (a - b) / b : 0 }'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", (s > 0) ? n / s / 1e6 : 0 }'; }

echo "## Recovery records"
echo
echo "$(nproc) cores, $(uname -m), load $(cut -d' ' -f1-3 /proc/loadavg); medians of $reps runs"
echo "(\`/usr/bin/time -f %e\`), the programs of a row run in turn."
echo
echo "| input | MiB | pack -i -t1 | pack -i -r 5 -t1 | cost | bzip2 -9 | -i archive | with record | size |"
echo "|---|---|---|---|---|---|---|---|---|"
for name in "${inputs[@]}"; do
  input="$dir/inputs/$name"
  cp "$input" "$work/out/$name"
  : >"$work/ti"; : >"$work/tr"; : >"$work/tb"
  for ((i = 0; i < reps; i++)); do
    wall "$vorb" -q -t1 -i e "$work/indexed" "$name" >>"$work/ti"
    wall "$vorb" -q -t1 -r 5 e "$work/recorded" "$name" >>"$work/tr"
    wall sh -c "bzip2 -9 -c '$name' >/dev/null" >>"$work/tb"
  done
  size_i=$(stat -c %s "$work/indexed")
  size_r=$(stat -c %s "$work/recorded")
  cmp -s -n "$size_i" "$work/indexed" "$work/recorded" || die "$name: the record does not follow the -i archive"
  "$vorb" -q r "$work/recorded" || die "$name: vorb r does not find the record intact"
  ti=$(median <"$work/ti"); tr=$(median <"$work/tr"); tb=$(median <"$work/tb")
  printf '| %s | %s | %s s | %s s | %s | %s s | %s | %s | %s |\n' "$name" "$(($(stat -c %s "$input") >> 20))" \
    "$ti" "$tr" "$(pct "$tr" "$ti")" "$tb" "$size_i" "$size_r" "$(pct "$size_r" "$size_i")"
  rm -f "$work/out/$name"
done

if [ "$check_mib" != 0 ]; then
  say "packing $check_mib MiB of random bytes"
  head -c "$((check_mib << 20))" /dev/urandom >"$work/out/random"
  (cd "$work/out" && "$vorb" -q -r 5 e "$work/big" random)
  rm "$work/out/random"
  bytes=$(stat -c %s "$work/big")
  : >"$work/tr"; : >"$work/tm"; : >"$work/tc"
  for ((i = 0; i < reps; i++)); do
    wall "$vorb" -q r "$work/big" >>"$work/tr"
    wall md5sum "$work/big" >>"$work/tm"
    wall cat "$work/big" >>"$work/tc"
  done
  tr=$(median <"$work/tr"); tm=$(median <"$work/tm"); tc=$(median <"$work/tc")
  # A burst of 4 % of the file, from a third of the way in.
  cp "$work/big" "$work/damaged"
  dd if=/dev/zero of="$work/damaged" bs=1 seek=$((bytes / 3)) count=$((bytes / 25)) conv=notrunc 2>/dev/null
  tfix=$(wall "$vorb" -q r "$work/damaged")
  cmp -s "$work/big" "$work/damaged" || die "the repaired archive differs from the original"
  echo
  echo "\`vorb r\` on an undamaged archive of $bytes bytes ($check_mib MiB of random bytes, -r 5):"
  echo "$tr s, $(rate "$bytes" "$tr") MB/s; md5sum $tm s ($(rate "$bytes" "$tm") MB/s), cat $tc s ($(rate "$bytes" "$tc") MB/s)."
  echo "Repairing a copy with a burst of $((bytes / 25)) zero bytes: $tfix s, byte for byte the original."
fi
