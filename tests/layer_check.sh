#!/bin/sh
# Fails when a file under the source folder given includes what its layer may
# not see, and names each such line. The layers, bottom up: common, coder,
# dc, then sort and inverse (never each other), archive, api; cli sees only
# the public header and its own files, and only api and cli see vorb.h.
set -eu
src=$1

# The folders each layer's quoted includes may name; cli's name none.
may_see() {
  case $1 in
    common) echo "common" ;;
    coder) echo "common coder" ;;
    dc) echo "common coder dc" ;;
    sort) echo "common coder dc sort" ;;
    inverse) echo "common coder dc inverse" ;;
    archive) echo "common coder dc sort inverse archive" ;;
    api) echo "common coder dc sort inverse archive api" ;;
    cli) echo "" ;;
    *) return 1 ;;
  esac
}

bad=0
for dir in "$src"/*/; do
  layer=$(basename "$dir")
  if ! seen=$(may_see "$layer"); then
    echo "$layer/: not a known layer; give it its place in tests/layer_check.sh"
    bad=1
    continue
  fi
  for file in $(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' \) | sort); do
    rel=${file#"$src"/}
    # Each include as "q name" (quoted) or "a name" (angle brackets).
    for inc in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/q:\1/p;
                           s/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\)>.*/a:\1/p' "$file"); do
      kind=${inc%%:*}
      name=${inc#*:}
      why=""
      if [ "$kind" = a ]; then
        [ "$name" = vorb.h ] && [ "$layer" != api ] && [ "$layer" != cli ] && why="only api and cli see vorb.h"
      elif [ "$layer" = cli ]; then
        case $name in
          */*) why="cli sees only vorb.h and its own files" ;;
          *) [ -f "$src/cli/$name" ] || why="no such file in cli/" ;;
        esac
      else
        case " $seen " in
          *" ${name%%/*} "*) [ -f "$src/$name" ] || why="no such file" ;;
          *) why="$layer may not see ${name%%/*}/" ;;
        esac
      fi
      if [ -n "$why" ]; then
        echo "$rel: includes $name: $why"
        bad=1
      fi
    done
  done
done
exit $bad
