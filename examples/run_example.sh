#!/bin/sh
# Runs an example on files made here, for ctest.
#   run_example.sh pack_unpack PROGRAM
#   run_example.sh list_members SCRIPT LIBRARY VORB
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
: >empty
seq 1 20000 >numbers
head -c 300000 /dev/urandom >random
case "$1" in
pack_unpack)
  "$2" empty numbers random missing-file ;;
list_members)
  "$4" -q e arch numbers empty missing-file >/dev/null </dev/null
  python3 "$2" "$3" arch >listing
  cat listing
  size=$(wc -c <numbers)
  grep -Eq "^ +$size +[0-9]+  numbers\$" listing
  grep -Eq '^ +0 +[0-9]+  empty$' listing
  grep -q '(absent entry)' listing
  [ "$(wc -l <listing)" = 3 ] ;;
*)
  echo "unknown example $1" >&2; exit 2 ;;
esac
