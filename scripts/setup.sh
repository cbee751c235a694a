#!/usr/bin/env bash
# Makes sure the tools are present: those that build the program, and with
# --tests also those only the tests need (GoogleTest, the sort's oracle
# libdivsufsort, groff for the man page check). Installs the missing Debian
# packages when run as root; otherwise names them and fails.
set -euo pipefail

need_cmds=(cmake g++ make)
need_headers=(xxhash.h isa-l/erasure_code.h)
pkgs=(cmake g++ make libxxhash-dev libisal-dev)
if [ "${1:-}" = --tests ]; then
  need_cmds+=(groff)
  need_headers+=(gtest/gtest.h divsufsort.h)
  pkgs+=(groff-base libgtest-dev libdivsufsort-dev)
fi

missing=0
for c in "${need_cmds[@]}"; do command -v "$c" >/dev/null 2>&1 || missing=1; done
# Headers sit in /usr/include or, for some packages, its multiarch folder.
for h in "${need_headers[@]}"; do
  compgen -G "/usr/include/$h" >/dev/null || compgen -G "/usr/include/*/$h" >/dev/null || missing=1
done
[ "$missing" = 0 ] && exit 0

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "setup: installing ${pkgs[*]}" >&2
  # Another install may hold the package manager's lock: wait for it (up to
  # five minutes) instead of failing at once.
  lock_wait=(-o DPkg::Lock::Timeout=300)
  apt-get "${lock_wait[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive apt-get "${lock_wait[@]}" install -y -qq "${pkgs[@]}" >/dev/null
  exit 0
fi
echo "setup: missing tools; install these Debian packages: ${pkgs[*]}" >&2
exit 1
