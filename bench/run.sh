#!/usr/bin/env bash
# Times vorb against bzip2, lbzip2, bzip3, xz and zstd on the inputs made by
# make_inputs.sh and prints markdown tables: the machine, then one table per
# input, then the forward transform alone against divbwt.
#
# Every repetition runs every program once (starting one further along the
# list each time), so a change of load on a shared machine hits them alike;
# the ratios against bzip2 -9 are the medians of the per-repetition ratios.
# Every round trip is compared with the input, and the archives of vorb -t1
# and -t2 must be identical.
#
# usage: bench/run.sh > report.md
# environment:
#   VORB        vorb binary (default build/vorb, built with make when missing)
#   BENCH_DIR   inputs and scratch files (default /tmp/vorb-bench; inputs are kept)
#   REPS        repetitions (default 3; 1 when QUICK=1)
#   QUICK=1     only calgary.tar and canterbury.tar, one repetition
#   INPUTS      names of inputs to use instead (see make_inputs.sh)
#   TOOLS       programs to time instead, of: bzip2 lbzip2 bzip3 bzip3-j2 xz zstd vorb-t1 vorb-t2
#   SORT_BENCH  0 skips the forward-transform benchmark; SORT_REPS its repeats (default 3)
#   SORT_BENCH_BUILD  its build directory (default build-bench)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BENCH_DIR:-/tmp/vorb-bench}"
quick="${QUICK:-0}"
if [ "$quick" = 1 ]; then reps="${REPS:-1}"; else reps="${REPS:-3}"; fi
corpus="${VORB_CORPUS:-$root/data/corpus}"
export BENCH_DIR="$dir" VORB_CORPUS="$corpus"

say() { echo "run: $*" >&2; }
die() { say "$*"; exit 1; }

[[ "$reps" =~ ^[1-9][0-9]*$ ]] || die "REPS must be a positive number, not '$reps'"

# --- tools -------------------------------------------------------------------
need=()
for pair in bzip2:bzip2 lbzip2:lbzip2 bzip3:bzip3 xz:xz-utils zstd:zstd cmp:diffutils; do
  command -v "${pair%%:*}" >/dev/null 2>&1 || need+=("${pair#*:}")
done
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] || die "missing Debian packages: ${need[*]} (install them as root)"
  say "installing ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if [ -n "${VORB:-}" ]; then
  vorb="$(realpath -m -- "$VORB")"
  [ -x "$vorb" ] || die "VORB=$VORB is not an executable"
else
  vorb="$root/build/vorb"
  if [ ! -x "$vorb" ]; then
    say "building $vorb"
    make -C "$root" >&2
  fi
fi

# --- inputs ------------------------------------------------------------------
if [ -n "${INPUTS:-}" ]; then
  read -r -a inputs <<<"$INPUTS"
elif [ "$quick" = 1 ]; then
  inputs=(calgary.tar canterbury.tar)
else
  inputs=(calgary.tar canterbury.tar kernel-c.txt libllvm.so server.log mixed.tar)
fi
"$root/bench/make_inputs.sh" "${inputs[@]}"

describe() {
  case "$1" in
    calgary.tar) echo "Calgary corpus, 18 files in one tar" ;;
    canterbury.tar) echo "Canterbury corpus, 11 files in one tar" ;;
    kernel-c.txt) echo "C source: .c/.h of fs/ kernel/ mm/ net/ from $(sed -n 's/^origin //p' "$dir/inputs/$1.meta"), first 48 MiB" ;;
    libllvm.so) echo "x86-64 shared library: first 40 MiB of libLLVM-15.so.1 ($(sed -n 's/^origin //p' "$dir/inputs/$1.meta"))" ;;
    server.log) echo "generated web and application log lines" ;;
    mixed.tar) echo "documentation files of /usr/share/doc and /usr/share/man, half of them gzip-compressed, first 32 MiB of a tar (list $(sed -n 's/^origin files //p' "$dir/inputs/$1.meta"))" ;;
    *) echo "$1" ;;
  esac
}

# --- one timed run -----------------------------------------------------------
work="$dir/run"
rm -rf "$work"
mkdir -p "$work/packed" "$work/unpack"
timefile="$work/time.out"
results="$work/results.tsv"
: >"$results"

# Runs "$@" in directory $1 with stdin $2 and stdout $3; sets elapsed_us and
# rss_kib (peak resident set of the program, from GNU time).
timed() {
  local cwd=$1 in=$2 out=$3 t0 t1
  shift 3
  t0=${EPOCHREALTIME/./}
  if ! (cd "$cwd" && /usr/bin/time -f '%M' -o "$timefile" "$@" <"$in" >"$out"); then
    cat "$timefile" >&2 || true
    die "failed: $* (in $cwd, < $in)"
  fi
  t1=${EPOCHREALTIME/./}
  elapsed_us=$((t1 - t0))
  rss_kib=$(tail -n 1 "$timefile")
}

all_tools=(bzip2 lbzip2 bzip3 bzip3-j2 xz zstd vorb-t1 vorb-t2)
# bzip2 stays in: it is what the ratios are taken against.
read -r -a tools <<<"bzip2 ${TOOLS:-${all_tools[*]}}"
declare -A seen=()
kept=()
for t in "${tools[@]}"; do
  [[ " ${all_tools[*]} " == *" $t "* ]] || die "unknown tool '$t' in TOOLS (known: ${all_tools[*]})"
  [ -n "${seen[$t]:-}" ] || kept+=("$t")
  seen[$t]=1
done
tools=("${kept[@]}")
label() {
  case "$1" in
    bzip2) echo "bzip2 -9" ;;
    lbzip2) echo "lbzip2 -9 -n2" ;;
    bzip3) echo "bzip3 -b 4 -j 1" ;;
    bzip3-j2) echo "bzip3 -b 4 -j 2" ;;
    xz) echo "xz -9 -T1" ;;
    zstd) echo "zstd -19 -T1" ;;
    vorb-t1) echo "vorb -t1" ;;
    vorb-t2) echo "vorb -t2" ;;
  esac
}

# Packs and unpacks $2 with tool $1, checks the round trip, appends a result line.
run_tool() {
  local tool=$1 input=$2 rep=$3 name packed unpacked pack_us pack_rss
  name=$(basename "$input")
  packed="$work/packed/$name.$tool"
  unpacked="$work/unpack/$name.$tool"
  rm -f "$packed" "$unpacked" "$work/unpack/_$name"
  case "$tool" in
    bzip2) timed "$work" "$input" "$packed" bzip2 -9 -c ;;
    lbzip2) timed "$work" "$input" "$packed" lbzip2 -9 -n2 -c ;;
    bzip3) timed "$work" "$input" "$packed" bzip3 -b 4 -j 1 -c ;;
    bzip3-j2) timed "$work" "$input" "$packed" bzip3 -b 4 -j 2 -c ;;
    xz) timed "$work" "$input" "$packed" xz -9 -T1 -c ;;
    zstd) timed "$work" "$input" "$packed" zstd -19 -T1 -q -c ;;
    # Packed from the input's directory so that the stored name has no directory part.
    vorb-t*) timed "$(dirname "$input")" /dev/null /dev/null "$vorb" -q "-t${tool#vorb-t}" e "$packed" "$name" ;;
  esac
  pack_us=$elapsed_us pack_rss=$rss_kib
  case "$tool" in
    bzip2) timed "$work" "$packed" "$unpacked" bzip2 -d -c ;;
    lbzip2) timed "$work" "$packed" "$unpacked" lbzip2 -d -n2 -c ;;
    bzip3) timed "$work" "$packed" "$unpacked" bzip3 -d -j 1 -c ;;
    bzip3-j2) timed "$work" "$packed" "$unpacked" bzip3 -d -j 2 -c ;;
    xz) timed "$work" "$packed" "$unpacked" xz -d -T1 -c ;;
    zstd) timed "$work" "$packed" "$unpacked" zstd -d -q -c ;;
    vorb-t*)
      timed "$work/unpack" /dev/null /dev/null "$vorb" -q "-t${tool#vorb-t}" d "$packed"
      [ -f "$work/unpack/_$name" ] || die "$tool wrote no $work/unpack/_$name"
      mv "$work/unpack/_$name" "$unpacked"
      ;;
  esac
  cmp -s "$input" "$unpacked" || die "$(label "$tool"): round trip of $name differs from the input"
  rm -f "$unpacked"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$tool" "$rep" "$pack_us" "$pack_rss" \
    "$elapsed_us" "$rss_kib" "$(stat -c %s "$packed")" >>"$results"
}

# --- report ------------------------------------------------------------------
machine() {
  local cpu cores mem os vorb_version commit
  cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)
  cores="$(nproc) online ($(lscpu | sed -n 's/^Thread(s) per core: *//p') thread(s) per core)"
  mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
  os=$(. /etc/os-release && echo "$PRETTY_NAME")
  vorb_version=$("$vorb" -V 2>&1 | head -n 1)
  commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
  if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    commit="$commit with uncommitted changes"
  fi
  echo "## Machine"
  echo
  echo "| | |"
  echo "|---|---|"
  echo "| CPU | $cpu |"
  echo "| cores | $cores |"
  echo "| memory | $mem |"
  echo "| kernel | $(uname -s) $(uname -r) $(uname -m) |"
  echo "| system | $os |"
  echo "| date | $(date -u '+%Y-%m-%d %H:%M UTC') |"
  echo "| load average at start | $(cut -d' ' -f1-3 /proc/loadavg) |"
  echo "| vorb | $vorb_version, commit $commit |"
  echo "| others | $(bzip2 --version </dev/null 2>&1 | sed -n '1s/.*Version \([^,]*\),.*/bzip2 \1/p'), $(lbzip2 --version 2>&1 | sed -n '1s/ version / /p'), $(bzip3 --version 2>&1 | sed -n '1p'), $(xz --version | sed -n '1s/ (XZ Utils)//p'), zstd $(zstd --version | sed -n 's/.* v\([0-9.]*\),.*/\1/p') |"
  echo "| repetitions | $reps per program and input, interleaved; medians shown |"
  echo
}

# One markdown table for input $1 from the result lines.
table() {
  local name=$1 bytes=$2
  local order="" t
  # Labels travel with their blanks as underscores.
  for t in "${tools[@]}"; do order="$order $t=$(label "$t" | tr ' ' _)"; done
  awk -F'\t' -v name="$name" -v bytes="$bytes" -v order="$order" '
    function median(s,    a, n, i, j, x) {
      n = split(s, a, " ")
      for (i = 2; i <= n; i++) { x = a[i] + 0; for (j = i - 1; j >= 1 && a[j] + 0 > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    function ratio(x, y) { return (y > 0 ? sprintf("%.2f", x / y) : "-") }
    $1 == name {
      t = $2; r = $3
      pt[t, r] = $4; ut[t, r] = $6; reps[r] = 1
      pts[t] = pts[t] " " $4; uts[t] = uts[t] " " $6
      if ($5 > prss[t]) prss[t] = $5
      if ($7 > urss[t]) urss[t] = $7
      size[t] = $8
    }
    END {
      print "| program | packed bytes | bits/byte | size / bzip2 | pack s | pack MB/s | pack time / bzip2 | pack RSS MiB | unpack s | unpack MB/s | unpack time / bzip2 | unpack RSS MiB |"
      print "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
      n = split(order, o, " ")
      for (i = 1; i <= n; i++) {
        split(o[i], kv, "="); t = kv[1]; lab = kv[2]; gsub(/_/, " ", lab)
        if (!(t in size)) continue
        pr = ""; ur = ""
        for (r in reps) if ((t, r) in pt && ("bzip2", r) in pt) {
          pr = pr " " pt[t, r] / pt["bzip2", r]; ur = ur " " ut[t, r] / ut["bzip2", r]
        }
        pm = median(pts[t]) / 1e6; um = median(uts[t]) / 1e6
        printf "| %s | %d | %.3f | %s | %.2f | %.2f | %s | %.1f | %.2f | %.2f | %s | %.1f |\n",
          lab, size[t], 8 * size[t] / bytes, ratio(size[t], size["bzip2"]),
          pm, bytes / 1e6 / pm, (pr == "" ? "-" : sprintf("%.2f", median(pr))), prss[t] / 1024,
          um, bytes / 1e6 / um, (ur == "" ? "-" : sprintf("%.2f", median(ur))), urss[t] / 1024
      }
    }' "$results"
}

# --- forward transform alone -------------------------------------------------
sort_section() {
  local big=() f
  for f in "$@"; do [ "$(stat -c %s "$dir/inputs/$f")" -gt $((4 * 1024 * 1024)) ] && big+=("$f"); done
  echo "## Forward transform alone (first 4 MiB of each large input)"
  echo
  if [ "${SORT_BENCH:-1}" = 0 ]; then echo "Skipped (SORT_BENCH=0)."; echo; return; fi
  if [ ${#big[@]} = 0 ]; then echo "Skipped: no input larger than 4 MiB in this run."; echo; return; fi
  local build sb usage
  build="${SORT_BENCH_BUILD:-$root/build-bench}"
  sb="$build/bench/sort_bench"
  if [ ! -f "$root/bench/sort_bench.cpp" ] && [ ! -x "$sb" ]; then
    echo "Skipped: bench/sort_bench.cpp does not exist yet."; echo; return
  fi
  say "building sort_bench in $build"
  if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORB_BUILD_BENCH=ON -DVORB_BUILD_TESTS=OFF &&
    cmake --build "$build" -j2 --target sort_bench; } >"$work/sort_bench_build.log" 2>&1; then
    echo "Skipped: sort_bench did not build (log: $work/sort_bench_build.log)."; echo; return
  fi
  # It takes a corpus directory and files whose first block it sorts as is
  # (the "binary" row); the repeat count has come before and after the files.
  local form
  usage=$("$sb" 2>&1 || true)
  case "$usage" in
    *"CORPUS_DIR REPEATS BINARY_FILE"*) form=repeats-first ;;
    *"CORPUS_DIR BINARY_FILE"*) form=file-first ;;
    *) echo "Skipped: sort_bench takes other arguments now: \`$usage\`"; echo; return ;;
  esac
  echo "Sort rate in MB/s of input (best of ${SORT_REPS:-3}), vorb's forward transform beside libdivsufsort's divbwt on the same block; a rate ratio above 1 means vorb is faster."
  echo
  echo "| block | bytes | vorb MB/s | divbwt MB/s | vorb / divbwt |"
  echo "|---|---:|---:|---:|---:|"
  local first=1 out
  for f in "${big[@]}"; do
    say "sort_bench on $f"
    if [ "$form" = repeats-first ]; then
      out=$("$sb" "$corpus" "${SORT_REPS:-3}" "$dir/inputs/$f") || die "sort_bench failed on $f"
    else
      out=$("$sb" "$corpus" "$dir/inputs/$f" "${SORT_REPS:-3}") || die "sort_bench failed on $f"
    fi
    # Rows: name words, then bytes, vorb MB/s, divbwt MB/s. "binary" is the given file.
    awk -v f="$f" -v first="$first" '
      NR == 1 || NF < 4 { next }
      {
        lab = $1; for (i = 2; i <= NF - 3; i++) lab = lab " " $i
        if (lab ~ /^binary/) { lab = f; found = 1 }
        else if (!first) next
        else if (lab ~ /^text/) lab = lab " (first 4 MiB)"
        printf "| %s | %d | %.2f | %.2f | %s |\n", lab, $(NF - 2), $(NF - 1), $NF, ($NF > 0 ? sprintf("%.2f", $(NF - 1) / $NF) : "-")
      }
      END { if (!found) printf "| %s | no \"binary\" row in the output of sort_bench | | | |\n", f }' <<<"$out" >>"$work/sort_rows.md"
    first=0
  done
  # The per-input rows first, then the fixed blocks measured with the first call.
  grep -F -f <(printf '| %s |\n' "${big[@]}") "$work/sort_rows.md" || true
  grep -v -F -f <(printf '| %s |\n' "${big[@]}") "$work/sort_rows.md" || true
  echo
}

# --- main --------------------------------------------------------------------
report="$dir/report.md"
{
  echo "# vorb benchmark"
  echo
  machine
  echo "MB is 10^6 bytes; speeds are of the original size for both packing and unpacking."
  echo "bits/byte = 8 * packed / original. Times are wall-clock medians; the columns \"/ bzip2\""
  echo "are medians of the ratios measured side by side in each repetition. RSS is the peak"
  echo "resident set of the program, the largest seen. vorb -t2, lbzip2 -n2 and bzip3 -j 2 use both cores."
  echo
} | tee "$report"

ntools=${#tools[@]}
for name in "${inputs[@]}"; do
  input="$dir/inputs/$name"
  bytes=$(stat -c %s "$input")
  cat "$input" >/dev/null # into the page cache before the first timing
  for ((rep = 1; rep <= reps; rep++)); do
    for ((k = 0; k < ntools; k++)); do
      tool=${tools[$(((k + rep - 1) % ntools))]}
      say "$name: repetition $rep/$reps: $(label "$tool")"
      run_tool "$tool" "$input" "$rep"
    done
    if [ -n "${seen[vorb-t1]:-}" ] && [ -n "${seen[vorb-t2]:-}" ]; then
      cmp -s "$work/packed/$name.vorb-t1" "$work/packed/$name.vorb-t2" ||
        die "$name: the archives of vorb -t1 and vorb -t2 differ"
    fi
  done
  rm -f "$work/packed/$name".*
  {
    echo "### $name ($(sed ':a; s/\B[0-9]\{3\}\>/,&/; ta' <<<"$bytes") bytes)"
    echo
    echo "$(describe "$name"), sha256 $(sed -n 's/^sha256 //p' "$input.meta" | cut -c1-16)…"
    echo
    table "$name" "$bytes"
    echo
  } | tee -a "$report"
done

sort_section "${inputs[@]}" | tee -a "$report"
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)." | tee -a "$report"
say "report written to $report; raw timings in $results"
