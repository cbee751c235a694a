#!/bin/sh
# Fails when the shared library exports a symbol without the vorb_ prefix.
set -eu
symbols=$(nm -D --defined-only "$1" | awk '{print $NF}')
[ -n "$symbols" ] || { echo "no symbols exported by $1" >&2; exit 1; }
stray=$(printf '%s\n' "$symbols" | grep -v '^vorb_' || true)
[ -z "$stray" ] || { echo "exported without the vorb_ prefix:" >&2; echo "$stray" >&2; exit 1; }
