#!/usr/bin/env bash
# What an index buys and costs, as markdown:
#   - unpacking an indexed archive on two threads against one (one member is
#     decoded several blocks at a time), beside lbzip2 -d -n2;
#   - what checksums and the index cost at -t1, packing and unpacking,
#     against the plain archive;
#   - l on an indexed archive of 1 GiB of input (zeros: l reads the header,
#     the entries and the index only, so the contents do not matter).
# Median wall times of REPS runs, each program run in turn; every unpacked
# file is compared with its input.
#
# usage: bench/index.sh > report.md
# environment: VORB (default build/vorb), BENCH_DIR (default /tmp/vorb-bench),
#   REPS (default 3), INPUTS (default: kernel-c.txt libllvm.so calgary.tar;
#   see make_inputs.sh), LIST_GIB (default 1; 0 skips the l figure)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
reps="${REPS:-3}"
list_gib="${LIST_GIB:-1}"
read -r -a inputs <<<"${INPUTS:-kernel-c.txt libllvm.so calgary.tar}"
name=index
# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
bench_begin
mkdir -p "$work/out"

# Wall seconds of one run of "$@" in $work/out.
wall() {
  (cd "$work/out" && /usr/bin/time -f '%e' -o "$work/t" "$@" >/dev/null </dev/null) || die "failed: $*"
  cat "$work/t"
}

# Median wall seconds of REPS runs of "$@".
timed() {
  local i
  for ((i = 0; i < reps; i++)); do wall "$@"; done | median
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.1f %%", (b > 0) ? 100 * (a - b) / b : 0 }'; }

echo "## Indexed archives"
echo
echo "$(nproc) cores, $(uname -m); medians of $reps runs (\`/usr/bin/time -f %e\`)."
echo
echo "| input | MiB | pack plain -t1 | pack -i -t1 | cost | unpack plain -t1 | unpack -i -t1 | cost | unpack -i -t2 | -t1/-t2 | lbzip2 -d -n2 |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for name in "${inputs[@]}"; do
  input="$dir/inputs/$name"
  cp "$input" "$work/out/$name"
  pack_plain=$(timed "$vorb" -q -t1 e "$work/plain" "$name")
  pack_index=$(timed "$vorb" -q -t1 -i e "$work/indexed" "$name")
  cmp -s <(head -c "$(stat -c %s "$work/plain")" "$work/indexed") "$work/plain" ||
    die "$name: the indexed archive does not start with the plain one"
  rm "$work/out/$name"
  unpack_plain=$(timed "$vorb" -q -t1 d "$work/plain")
  unpack_t1=$(timed "$vorb" -q -t1 d "$work/indexed")
  unpack_t2=$(timed "$vorb" -q -t2 d "$work/indexed")
  cmp -s "$input" "$work/out/_$name" || die "$name: unpacked bytes differ from the input"
  lbzip2 -9 -n2 -c "$input" >"$work/bz2"
  lbz=$(timed sh -c "lbzip2 -d -n2 -c '$work/bz2' >/dev/null")
  printf '| %s | %s | %s s | %s s | %s | %s s | %s s | %s | %s s | %s | %s s |\n' "$name" \
    "$(($(stat -c %s "$input") >> 20))" "$pack_plain" "$pack_index" "$(pct "$pack_index" "$pack_plain")" \
    "$unpack_plain" "$unpack_t1" "$(pct "$unpack_t1" "$unpack_plain")" "$unpack_t2" \
    "$(ratio "$unpack_t1" "$unpack_t2")" "$lbz"
  rm -f "$work/out/_$name"
done

if [ "$list_gib" != 0 ]; then
  say "packing $list_gib GiB of zeros for the listing"
  head -c "$((list_gib << 30))" /dev/zero >"$work/out/zeros"
  (cd "$work/out" && "$vorb" -q -i e "$work/big" zeros)
  rm "$work/out/zeros"
  echo
  echo "\`vorb l\` on an indexed archive of $list_gib GiB of input: $(timed "$vorb" -q l "$work/big") s"
fi
