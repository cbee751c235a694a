# Shared by index.sh and scaling.sh (sourced): set-up, messages and a
# median. Set name, root and inputs before sourcing.

say() { echo "$name: $*" >&2; }
die() { say "$*"; exit 1; }

# Builds vorb when it is missing; GNU time and lbzip2 must be there.
need_tools() {
  [ -x "$vorb" ] || make -C "$root" >&2
  [ -x /usr/bin/time ] || die "GNU time (/usr/bin/time) is needed: apt-get install time"
  command -v lbzip2 >/dev/null || die "lbzip2 is needed: apt-get install lbzip2"
}

# Sets dir, vorb and work ($dir/$name, made empty), checks the tools and
# makes the inputs.
bench_begin() {
  dir="${BENCH_DIR:-/tmp/vorb-bench}"
  vorb="$(realpath -m -- "${VORB:-$root/build/vorb}")"
  need_tools
  "$root/bench/make_inputs.sh" "${inputs[@]}"
  work="$dir/$name"
  rm -rf "$work"
  mkdir -p "$work"
}

# Median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
