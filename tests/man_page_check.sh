#!/usr/bin/env bash
# The manual page must render without a single warning.
set -euo pipefail
page="$1"
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  printf '%s\n' "$warnings"
  exit 1
fi
# And it must carry the exit statuses (plain text; headings are overstruck).
rendered=$(groff -man -Tutf8 "$page" 2>/dev/null)
grep -q 'unknown option' <<<"$rendered"
