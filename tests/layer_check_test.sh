#!/bin/sh
# The layer check against a scratch tree with one include per row: the lines
# it must name, and those it must let pass.
set -eu
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
for layer in common coder dc sort inverse archive api cli; do
  mkdir -p "$tree/$layer"
  : >"$tree/$layer/own.h"
done

# file | the include in it | what the check says of it ("" for nothing)
rows='common/a.cpp|"common/own.h"|
common/b.cpp|"coder/own.h"|common may not see coder/
coder/a.cpp|"common/own.h"|
coder/b.cpp|"dc/own.h"|coder may not see dc/
dc/a.cpp|"coder/own.h"|
dc/b.h|"sort/own.h"|dc may not see sort/
sort/a.cpp|"dc/own.h"|
sort/b.cpp|"inverse/own.h"|sort may not see inverse/
inverse/a.cpp|"dc/own.h"|
inverse/b.cpp|"sort/own.h"|inverse may not see sort/
archive/a.cpp|"sort/own.h"|
archive/b.cpp|"inverse/own.h"|
archive/c.cpp|"api/own.h"|archive may not see api/
archive/d.cpp|<vorb.h>|only api and cli see vorb.h
archive/e.cpp|"archive/gone.h"|no such file
api/a.cpp|"archive/own.h"|
api/b.cpp|<vorb.h>|
api/c.cpp|"cli/own.h"|api may not see cli/
cli/a.cpp|"own.h"|
cli/b.cpp|<vorb.h>|
cli/c.cpp|"api/own.h"|cli sees only vorb.h and its own files
cli/d.cpp|"gone.h"|no such file in cli/'
want=""
IFS='
'
for row in $rows; do
  file=${row%%|*}
  rest=${row#*|}
  inc=${rest%%|*}
  says=${rest#*|}
  printf '#include <cstdint>\n  #include %s  // why\n' "$inc" >"$tree/$file"
  name=$(printf '%s' "$inc" | tr -d '"<>')
  [ -z "$says" ] || want="$want$file: includes $name: $says
"
done
mkdir "$tree/stray"
want="${want}stray/: not a known layer; give it its place in tests/layer_check.sh
"
status=0
got=$("$check" "$tree") || status=$?
[ "$status" = 1 ] || { echo "the check ended with $status, not 1" >&2; exit 1; }
want=$(printf '%s' "$want" | sort)
got=$(printf '%s\n' "$got" | sort)
[ "$got" = "$want" ] || { printf 'wanted:\n%s\ngot:\n%s\n' "$want" "$got" >&2; exit 1; }
