#!/usr/bin/env bash
# vorb's main job on the bundled data: packs the corpus folder with an index,
# lists it, tests it, unpacks it into a scratch folder, compares every file
# with the original and prints sizes and speeds. Ends non-zero when any step
# fails or any file differs; the scratch folder is removed either way.
#
# usage: scripts/demo.sh        (make demo builds vorb first)
# environment: VORB (default build/vorb), VORB_CORPUS (default data/corpus)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
vorb="$(realpath -m -- "${VORB:-$root/build/vorb}")"
corpus="$(realpath -m -- "${VORB_CORPUS:-$root/data/corpus}")"
[ -x "$vorb" ] || { echo "demo: no vorb at $vorb (run make)" >&2; exit 1; }
[ -d "$corpus" ] || { echo "demo: no corpus folder at $corpus" >&2; exit 1; }

scratch="$(mktemp -d /tmp/vorb-demo.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
archive="$scratch/corpus.vorb"
name="$(basename "$corpus")"

# Wall time of "$@" in microseconds, in $took.
timed() {
  local t0=${EPOCHREALTIME/./}
  "$@"
  took=$((${EPOCHREALTIME/./} - t0))
}
rate() { awk -v b="$1" -v us="$2" 'BEGIN { printf "%.1f MB/s", (us > 0 ? b / us : 0) }'; }

# From the corpus's parent, so that the stored names start with the folder's.
cd "$(dirname "$corpus")"
echo "== pack: vorb -i e $archive $name"
timed "$vorb" -q -i e "$archive" "$name"
pack_us=$took

echo "== list: vorb l"
"$vorb" -q l "$archive"
echo  # vorb starts its lines with the line break rather than ending them

echo "== test: vorb t"
timed "$vorb" -q t "$archive"
test_us=$took

echo "== unpack: vorb -C $scratch/out d"
mkdir "$scratch/out"
timed "$vorb" -q -C "$scratch/out" d "$archive"
unpack_us=$took

echo "== compare"
files=0 bytes=0 bad=0
while IFS= read -r -d '' f; do
  rel="${f#"$corpus"/}"
  files=$((files + 1))
  bytes=$((bytes + $(stat -c %s "$f")))
  cmp -- "$f" "$scratch/out/_$name/$rel" || bad=$((bad + 1))
done < <(find "$corpus" -type f -print0)
unpacked=$(find "$scratch/out" -type f | wc -l)
[ "$unpacked" -eq "$files" ] || { echo "demo: $unpacked files unpacked, $files packed" >&2; bad=$((bad + 1)); }
[ "$bad" -eq 0 ] || { echo "demo: $bad difference(s)" >&2; exit 1; }
packed=$(stat -c %s "$archive")
echo "$files files identical"

echo "== sizes and speeds (whole-process wall time; MB = 10^6 bytes)"
awk -v b="$bytes" -v p="$packed" 'BEGIN { printf "%d bytes -> %d bytes: %.1f %%, %.3f bits per byte\n", b, p, 100 * p / b, 8 * p / b }'
echo "pack   $(rate "$bytes" "$pack_us")"
echo "test   $(rate "$bytes" "$test_us")"
echo "unpack $(rate "$bytes" "$unpack_us")"
