#!/usr/bin/env bash
# Makes sure the build and test tools are present. Installs the missing
# Debian packages when run as root; otherwise names them and fails.
set -euo pipefail

need_cmds=(cmake g++ make groff)
need_files=(/usr/include/gtest/gtest.h /usr/include/divsufsort.h /usr/include/xxhash.h)
pkgs=(cmake g++ make groff-base libgtest-dev libdivsufsort-dev libxxhash-dev)

missing=0
for c in "${need_cmds[@]}"; do command -v "$c" >/dev/null 2>&1 || missing=1; done
for f in "${need_files[@]}"; do [ -e "$f" ] || missing=1; done
[ "$missing" = 0 ] && exit 0

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "setup: installing ${pkgs[*]}" >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${pkgs[@]}" >/dev/null
  exit 0
fi
echo "setup: missing build tools; install these Debian packages: ${pkgs[*]}" >&2
exit 1
