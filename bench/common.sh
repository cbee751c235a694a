# Shared by index.sh and scaling.sh (sourced): messages, the tools both
# need, and a median. Set name, root and vorb before sourcing.

say() { echo "$name: $*" >&2; }
die() { say "$*"; exit 1; }

# Builds vorb when it is missing; GNU time and lbzip2 must be there.
need_tools() {
  [ -x "$vorb" ] || make -C "$root" >&2
  [ -x /usr/bin/time ] || die "GNU time (/usr/bin/time) is needed: apt-get install time"
  command -v lbzip2 >/dev/null || die "lbzip2 is needed: apt-get install lbzip2"
}

# Median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
