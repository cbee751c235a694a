#!/usr/bin/env bash
# Non-blank lines of the code (src/ + include/) and of its tests (tests/ +
# fuzz/), and the tests' size as a percentage of the code's.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  local dirs=()
  for d in "$@"; do [ -d "$d" ] && dirs+=("$d"); done
  [ ${#dirs[@]} -gt 0 ] || { echo 0; return; }
  find "${dirs[@]}" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \
       -o -name '*.hpp' -o -name '*.sh' -o -name '*.py' \) -print0 |
    xargs -0 -r cat | grep -c '[^[:space:]]' || true
}

code=$(count src include)
tests=$(count tests fuzz)
echo "src + include:  $code"
echo "tests + fuzz:   $tests"
if [ "$code" -gt 0 ]; then
  awk -v t="$tests" -v c="$code" 'BEGIN { printf "ratio:          %.1f %%\n", 100 * t / c }'
fi
