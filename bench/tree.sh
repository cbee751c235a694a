#!/usr/bin/env bash
# A source tree through tar, as markdown: tar -I PROGRAM packs and unpacks
# one tree of tens of thousands of files and a few hundred MB (parts of
# linux-source-6.1) with vorb at -t1 and -t2, bzip2 -9, lbzip2 -9 -n2,
# zstd -19 -T1 and bzip3 -j1 and -j2; sizes and times, and their ratios to
# bzip2 -9's. Beside them, the figures vorb's own forms are held to:
#   - tar -I 'vorb -t1' against vorb -t1 e on the same tar file;
#   - tar -I 'vorb -t2' against lbzip2 -9 -n2, packing;
#   - vorb e on a folder of 255 files of 4 KiB against tar -cf - | vorb.
# Each repetition runs every program once, in turn, starting one further
# along the list each time; a ratio is the median of the ratios taken within
# a repetition. Every unpacked tree is compared with the original (diff -r).
#
# usage: bench/tree.sh > report.md
# environment: VORB (default build/vorb), BENCH_DIR (default /tmp/vorb-bench),
#   REPS (default 3), TREE_PARTS (folders of linux-source-6.1; default
#   "arch fs kernel lib mm net": 22,031 files, 204 MB), SMALL_REPS (default 20)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
name=tree
reps="${REPS:-3}"
small_reps="${SMALL_REPS:-20}"
read -r -a parts <<<"${TREE_PARTS:-arch fs kernel lib mm net}"
dir="${BENCH_DIR:-/tmp/vorb-bench}"
vorb="$(realpath -m -- "${VORB:-$root/build/vorb}")"
work="$dir/$name"
src=/usr/src/linux-source-6.1.tar.xz

say() { echo "$name: $*" >&2; }
die() { say "$*"; exit 1; }

[ -x "$vorb" ] || make -C "$root" >&2
for tool in bzip2 lbzip2 zstd bzip3 tar; do
  command -v "$tool" >/dev/null || die "$tool is needed (apt-get install $tool)"
done
[ -f "$src" ] || "$root/bench/make_inputs.sh" kernel-c.txt
[ -f "$src" ] || die "$src is missing (apt-get install linux-source-6.1)"

# The tree, made once and kept: GNU tar then reads the same files every run.
tree="$dir/tree-src/linux-source-6.1"
stamp="$dir/tree-src/.parts"
if [ "$(cat "$stamp" 2>/dev/null)" != "${parts[*]}" ]; then
  say "extracting ${parts[*]} of $src"
  rm -rf "$dir/tree-src"
  mkdir -p "$dir/tree-src"
  tar -xJf "$src" -C "$dir/tree-src" "${parts[@]/#/linux-source-6.1/}"
  echo "${parts[*]}" >"$stamp"
fi
rm -rf "$work"
mkdir -p "$work"
files=$(find "$tree" -type f | wc -l)
bytes=$(find "$tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')

# Milliseconds of one run of the shell command $1, which must succeed.
ms() {
  local t0 t1
  t0=$(date +%s%N)
  sh -c "$1" >/dev/null 2>&1 </dev/null || die "failed: $1"
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }'; }

labels=(vorb-t1 vorb-t2 bzip2 lbzip2 zstd bzip3-j1 bzip3-j2)
declare -A prog=(
  [vorb-t1]="$vorb -t1" [vorb-t2]="$vorb -t2" [bzip2]="bzip2 -9" [lbzip2]="lbzip2 -9 -n2"
  [zstd]="zstd -19 -T1" [bzip3-j1]="bzip3 -j1" [bzip3-j2]="bzip3 -j2"
)
parent=$(dirname "$tree")
base=$(basename "$tree")
tar -cf "$work/tree.tar" -C "$parent" "$base"

# One tree of 255 files of 4 KiB, cut from the sources.
small="$work/small/files"
mkdir -p "$small"
i=0
while [ "$i" -lt 255 ] && IFS= read -r f; do
  i=$((i + 1))
  head -c 4096 "$f" >"$small/f$(printf %03d "$i").c"
done < <(find "$tree" -type f -size +4k -name '*.c' | sort)
[ "$(ls "$small" | wc -l)" = 255 ] || die "fewer than 255 source files of 4 KiB"

declare -A pack unpack size
say "$files files, $bytes bytes; $reps repetitions"
for ((r = 0; r < reps; r++)); do
  n=${#labels[@]}
  for ((k = 0; k < n; k++)); do
    l=${labels[$(((k + r) % n))]}
    a="$work/t.$l"
    pack[$l]+="$(ms "tar -I '${prog[$l]}' -cf '$a' -C '$parent' '$base'") "
    size[$l]=$(stat -c %s "$a")
    rm -rf "$work/out"
    mkdir "$work/out"
    unpack[$l]+="$(ms "tar -I '${prog[$l]}' -xf '$a' -C '$work/out'") "
    [ "$r" != 0 ] || diff -r "$tree" "$work/out/$base" >/dev/null || die "$l: the unpacked tree differs"
  done
  # vorb e on the tar file, and the small files both ways, in the same round.
  pack[e-t1]+="$(ms "'$vorb' -q -t1 e '$work/e.vorb' '$work/tree.tar'") "
  pack[e-i-t1]+="$(ms "'$vorb' -q -t1 -i e '$work/ei.vorb' '$work/tree.tar'") "
  for ((s = 0; s < small_reps; s++)); do
    pack[small-e]+="$(ms "cd '$work/small' && '$vorb' -q -t1 e '$work/s.vorb' files") "
    pack[small-tar]+="$(ms "tar -cf - -C '$work/small' files | '$vorb' -t1 >'$work/s.tar.vorb'") "
  done
done

# The median of the ratios of two series taken side by side.
series_ratio() {
  local -a x y
  read -r -a x <<<"$1"
  read -r -a y <<<"$2"
  for ((i = 0; i < ${#x[@]}; i++)); do ratio "${x[i]}" "${y[i]}"; echo; done | median
}
med() { tr ' ' '\n' <<<"$1" | grep . | median; }

echo "## A source tree through tar"
echo
echo "linux-source-6.1: ${parts[*]}; $files files, $((bytes / 1000000)) MB (tar stream $(($(stat -c %s "$work/tree.tar") / 1000000)) MB)."
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); medians of $reps repetitions, programs in turn."
echo
echo "| tar -I | MB | size / bzip2 | pack s | / bzip2 | unpack s | / bzip2 |"
echo "|---|---|---|---|---|---|---|"
for l in "${labels[@]}"; do
  printf '| %s | %.1f | %s | %.2f | %s | %.2f | %s |\n' "${prog[$l]/#$vorb/vorb}" \
    "$(awk -v s="${size[$l]}" 'BEGIN { print s / 1e6 }')" "$(ratio "${size[$l]}" "${size[bzip2]}")" \
    "$(awk -v m="$(med "${pack[$l]}")" 'BEGIN { print m / 1000 }')" "$(series_ratio "${pack[$l]}" "${pack[bzip2]}")" \
    "$(awk -v m="$(med "${unpack[$l]}")" 'BEGIN { print m / 1000 }')" "$(series_ratio "${unpack[$l]}" "${unpack[bzip2]}")"
done
echo
echo "- \`tar -I 'vorb -t1' -cf\` / \`vorb -t1 e x.vorb tree.tar\`: $(series_ratio "${pack[vorb-t1]}" "${pack[e-t1]}")" \
  "(/ \`vorb -t1 -i e\`: $(series_ratio "${pack[vorb-t1]}" "${pack[e-i-t1]}"))"
echo "- \`tar -I 'vorb -t2' -cf\` / \`tar -I 'lbzip2 -9 -n2' -cf\`: $(series_ratio "${pack[vorb-t2]}" "${pack[lbzip2]}")"
echo "- \`vorb -t1 e x.vorb DIR\` (255 files of 4 KiB) / \`tar -cf - DIR | vorb -t1 > x\`:" \
  "$(series_ratio "${pack[small-e]}" "${pack[small-tar]}") ($(med "${pack[small-e]}") ms against" \
  "$(med "${pack[small-tar]}") ms, $small_reps pairs a repetition)"
rm -rf "$work/out"
