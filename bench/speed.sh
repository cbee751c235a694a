#!/usr/bin/env bash
# The speed figures in one run, as markdown:
#   - each stage's rate alone (stage_profile.sh) and the speed-up those rates
#     allow on 2, 4, 8 and 16 cores, packing and unpacking, plain and indexed;
#   - unpacking: plain -t2 against -t1 from a file and from a pipe, beside the
#     numbers alone (vorb l decodes them without inverting), indexed -t2
#     against lbzip2 -d -n2, and peak memory;
#   - packing: -t1 against bzip3 -b 4 -j 1, bzip2 -9 and an earlier build,
#     -t2 against lbzip2 -9 -n2 and bzip3 -b 4 -j 2, and peak memory;
#   - the same packing figures on a small input.
# Each repetition runs every command of a table once, in turn, starting one
# further along each time, so a change of load hits them alike; times are
# medians, ratios the medians of the ratios within repetitions. Every round
# trip is checked once before the timings.
#
# usage: bench/speed.sh > speed.md
# environment: VORB (default build/vorb), BASELINE (an earlier vorb binary to
#   compare with; none by default), BENCH_DIR (default /tmp/vorb-bench), REPS
#   (default 5), STAGE_REPS (default 3; 0 skips the stage rates), INPUTS
#   (default: kernel-c.txt libllvm.so server.log mixed.tar), SMALL (default
#   calgary.tar; see make_inputs.sh for both)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
reps="${REPS:-5}"
read -r -a large <<<"${INPUTS:-kernel-c.txt libllvm.so server.log mixed.tar}"
small="${SMALL:-calgary.tar}"
inputs=("${large[@]}" "$small")
name=speed
# shellcheck source=bench/common.sh
. "$root/bench/common.sh"
bench_begin
for t in bzip2 bzip3 lbzip2; do command -v "$t" >/dev/null || die "$t is needed: apt-get install $t"; done
base="${BASELINE:+$(realpath -m -- "$BASELINE")}"
[ -z "$base" ] || [ -x "$base" ] || die "BASELINE=$BASELINE is not an executable"

# run_series FILE LABEL=COMMAND...: reps rounds of every shell command, in
# turn; appends "label round microseconds rss_kib" lines to FILE.
run_series() {
  local out=$1 k i t0 t1 r c
  shift
  local labels=() cmds=()
  for c in "$@"; do labels+=("${c%%=*}") cmds+=("${c#*=}"); done
  for ((r = 0; r < reps; r++)); do
    for ((k = 0; k < ${#cmds[@]}; k++)); do
      i=$(((k + r) % ${#cmds[@]}))
      t0=${EPOCHREALTIME/./}
      /usr/bin/time -f %M -o "$work/rss" sh -c "${cmds[$i]}" </dev/null >/dev/null || die "failed: ${cmds[$i]}"
      t1=${EPOCHREALTIME/./}
      echo "${labels[$i]} $r $((t1 - t0)) $(tail -n 1 "$work/rss")" >>"$out"
    done
  done
}

# Median seconds of a label, median ratio of two labels' times within
# rounds, largest RSS of a label in MiB; "-" where a label did not run.
secs() { awk -v l="$2" '$1 == l { print $3 / 1e6 }' "$1" | median | awk '{ printf($1 == 0 ? "-" : "%.3f", $1) }'; }
ratio() {
  awk -v a="$2" -v b="$3" '$1 == a { x[$2] = $3 } $1 == b { y[$2] = $3 } END { for (r in x) if (r in y) print x[r] / y[r] }' \
    "$1" | median | awk '{ printf($1 == 0 ? "-" : "%.2f", $1) }'
}
rss() { awk -v l="$2" '$1 == l && $4 > m { m = $4 } END { printf(m ? "%.0f" : "-", m / 1024) }' "$1"; }

# --- stages alone and what they allow -------------------------------------
echo "## Stages alone"
echo
echo "$(nproc) cores, $(uname -m), load $(cut -d' ' -f1-3 /proc/loadavg) at the start; $reps repetitions."
echo
if [ "${STAGE_REPS:-3}" != 0 ]; then
  INPUTS="${large[*]}" "$root/bench/stage_profile.sh" "${STAGE_REPS:-3}" | tee "$work/stages"
  echo
  echo "Speed-up over one core that the stage rates allow: unpacking decodes each member's numbers in order"
  echo "on one thread (plain) or every block apart (indexed, up to one block per core); packing codes the"
  echo "recorded steps in order and sorts and models blocks on every core. Times per byte add up on one core."
  echo
  echo "| input | plain unpack 2 / 4 / 8 / 16 cores | indexed unpack | pack 2 / 4 / 8 / 16 cores |"
  echo "|---|---:|---:|---:|"
  # Columns: input, MB, bits/byte, sort, code at once, worker record, recorded %, replay, decode, inverse.
  awk -F'|' 'NR > 2 && NF > 10 {
      gsub(/ /, ""); d = 1 / $10; inv = 1 / $11; s = 1 / $5; c = 1 / $6; w = 1 / $7; rec = $8 / 100; p = 1 / $9
      blocks = int($3 * 1e6 / 4194304) + 1
      u1 = d + inv; serial = rec * p + (1 - rec) * c; p1 = s + c; work = s + rec * w + serial
      up = ""; pk = ""
      for (n = 2; n <= 16; n *= 2) {
        up = up sprintf("%s%.2fx", n > 2 ? " / " : "", u1 / (d > u1 / n ? d : u1 / n))
        pk = pk sprintf("%s%.2fx", n > 2 ? " / " : "", p1 / (serial > work / n ? serial : work / n))
      }
      printf "| %s | %s | up to %d blocks at once | %s |\n", $2, up, blocks, pk
    }' "$work/stages"
  echo
fi

# --- whole program ----------------------------------------------------------
for f in "${inputs[@]}"; do
  in="$dir/inputs/$f"
  a="$work/$f"
  "$vorb" -q -f -t1 e "$a.vb" "$in"
  "$vorb" -q -f -t1 -i e "$a.i.vb" "$in"
  lbzip2 -9 -n2 -c "$in" >"$a.bz2"
  for t in 1 2 3 8; do
    "$vorb" -q -f -t$t e "$a.t.vb" "$in" && cmp -s "$a.vb" "$a.t.vb" || die "$f: the -t$t archive differs"
    "$vorb" -q -t$t -c d "$a.vb" | cmp -s - "$in" || die "$f: -t$t unpacks other bytes"
    "$vorb" -q -t$t -c d - <"$a.vb" | cmp -s - "$in" || die "$f: -t$t unpacks other bytes from a pipe"
    "$vorb" -q -t$t -c d "$a.i.vb" | cmp -s - "$in" || die "$f: -t$t unpacks other bytes from the indexed archive"
  done
done

echo "## Unpacking"
echo
echo "Members written to /dev/null (\`vorb -c d\`); a pipe is \`cat A | vorb -c d -\`. The numbers alone:"
echo "\`vorb -t1 l\` on the plain archive, which decodes them without inverting: what plain \`-t2\`"
echo "takes at best, since they decode in order on one thread."
echo
echo "| input | -t1 s | -t2 s | -t2 speed-up | pipe -t1 s | pipe -t2 s | pipe speed-up | numbers alone s | ceiling | indexed -t2 s | lbzip2 -d -n2 s | indexed -t2 / lbzip2 | RSS -t2 MiB | earlier build |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for f in "${large[@]}"; do
  a="$work/$f"
  say "unpacking $f"
  s="$work/$f.unpack"
  : >"$s"
  cmds=("t1=$vorb -q -t1 -c d $a.vb" "t2=$vorb -q -t2 -c d $a.vb"
    "p1=cat $a.vb | $vorb -q -t1 -c d -" "p2=cat $a.vb | $vorb -q -t2 -c d -" "l=$vorb -q -t1 l $a.vb"
    "i2=$vorb -q -t2 -c d $a.i.vb" "lb=lbzip2 -d -n2 -c $a.bz2")
  [ -z "$base" ] || cmds+=("b2=$base -q -t2 -c d $a.vb")
  run_series "$s" "${cmds[@]}"
  printf '| %s | %s | %s | %sx | %s | %s | %sx | %s | %sx | %s | %s | %s | %s | %s |\n' "$f" "$(secs "$s" t1)" \
    "$(secs "$s" t2)" "$(ratio "$s" t1 t2)" "$(secs "$s" p1)" "$(secs "$s" p2)" "$(ratio "$s" p1 p2)" \
    "$(secs "$s" l)" "$(ratio "$s" t1 l)" "$(secs "$s" i2)" "$(secs "$s" lb)" "$(ratio "$s" i2 lb)" \
    "$(rss "$s" t2)" "$(rss "$s" b2)"
done
echo

echo "## Packing"
echo
echo "| input | -t1 s | / bzip3 -b 4 -j 1 | / bzip2 -9 | / earlier build -t1 | -t2 s | / lbzip2 -9 -n2 | / bzip3 -b 4 -j 2 | RSS -t2 MiB | earlier build |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for f in "${inputs[@]}"; do
  in="$dir/inputs/$f"
  say "packing $f"
  s="$work/$f.pack"
  : >"$s"
  cmds=("e1=$vorb -q -f -t1 e $work/e1.vb $in" "e2=$vorb -q -f -t2 e $work/e2.vb $in"
    "z1=bzip3 -b 4 -j 1 -c $in >$work/z1" "z2=bzip3 -b 4 -j 2 -c $in >$work/z2"
    "bz=bzip2 -9 -c $in >$work/bz" "lb=lbzip2 -9 -n2 -c $in >$work/lb")
  [ -z "$base" ] || cmds+=("b1=$base -q -f -t1 e $work/b1.vb $in" "b2=$base -q -f -t2 e $work/b2.vb $in")
  run_series "$s" "${cmds[@]}"
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$f" "$(secs "$s" e1)" "$(ratio "$s" e1 z1)" \
    "$(ratio "$s" e1 bz)" "$(ratio "$s" e1 b1)" "$(secs "$s" e2)" "$(ratio "$s" e2 lb)" "$(ratio "$s" e2 z2)" \
    "$(rss "$s" e2)" "$(rss "$s" b2)"
done
echo
echo "Load at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
rm -rf "$work"
