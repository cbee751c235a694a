#!/usr/bin/env bash
# Builds the benchmark inputs in $BENCH_DIR, byte for byte the same on every
# run, and keeps them: an input whose size, sha256 and origin (the Debian
# package version it was cut from) still match its .meta file is not rebuilt.
#
# usage: bench/make_inputs.sh [NAME...]      (default: every input; QUICK=1: the two tars)
#   calgary.tar     Calgary corpus, one ustar archive with fixed metadata    3,266,560 bytes
#   canterbury.tar  Canterbury corpus, the same way                          2,826,240 bytes
#   kernel-c.txt    .c/.h files of fs/ kernel/ mm/ net/ of linux-source-6.1,
#                   sorted by path, concatenated, first 48 MiB
#   libllvm.so      first 40 MiB of libLLVM-15.so.1 (package libllvm15): symbol
#                   tables, relocations and x86-64 code
#   server.log      64 MiB of generated web/application log lines (fixed seed)
#   mixed.tar       files of /usr/share/doc and /usr/share/man (about half of
#                   them gzip-compressed already), sorted by path, GNU tar with
#                   fixed metadata, first 32 MiB
# environment: BENCH_DIR (default /tmp/vorb-bench), VORB_CORPUS (default data/corpus)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BENCH_DIR:-/tmp/vorb-bench}"
corpus="${VORB_CORPUS:-$root/data/corpus}"
mkdir -p "$dir/inputs"
inputs="$dir/inputs"

MiB=$((1024 * 1024))
declare -A size=(
  [calgary.tar]=3266560 [canterbury.tar]=2826240
  [kernel-c.txt]=$((48 * MiB)) [libllvm.so]=$((40 * MiB)) [server.log]=$((64 * MiB))
  [mixed.tar]=$((32 * MiB))
)
# Known contents. The tars and the log depend on nothing outside this script
# and the corpus; the other two only on the package version named.
declare -A pinned=(
  [calgary.tar]=e93857f4a80512f7b3d5fcf582db79f7c68dba3db303436fd0348ca2ce3c7574
  [canterbury.tar]=9a10855edd0c2414c815b927a6e65d16452c6e153bf77e29b641af12ecfa2fc2
  [server.log]=4ca9d0f9d88666df70f20e0e0d01ed32c308e71b52da3236fd1d12a447ecdcce
  ["kernel-c.txt linux-source-6.1 6.1.192-3"]=7378f8188dab9ab91ff8d6b56e8194821c52fc6c8d33d681f0d284eb5a8005b0
  ["libllvm.so libllvm15 1:15.0.6-4+b1"]=bc8683afcd74c618ccb4c45af681098b20ce0292833c2955e8b550fefb39e4ed
  ["mixed.tar files 119d375b453f8977"]=40a4735fb7b36341f44c0d493dcca03a762522858f6faf64aea462f72fae92fb
)

say() { echo "make_inputs: $*" >&2; }
die() { say "$*"; exit 1; }

apt_updated=0
# Installs Debian packages that are missing (as root only; otherwise fails naming them).
need_pkgs() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} = 0 ] && return 0
  [ "$(id -u)" = 0 ] || die "missing Debian packages: ${missing[*]} (install them as root)"
  say "installing ${missing[*]}"
  if [ "$apt_updated" = 0 ]; then apt-get update -qq; apt_updated=1; fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

pkg_version() { dpkg-query -W -f='${Version}' "$1"; }

origin_of() {
  case "$1" in
    calgary.tar | canterbury.tar) echo "corpus" ;;
    kernel-c.txt) echo "linux-source-6.1 $(pkg_version linux-source-6.1 2>/dev/null || echo none)" ;;
    libllvm.so) echo "libllvm15 $(pkg_version libllvm15:amd64 2>/dev/null || echo none)" ;;
    server.log) echo "generated" ;;
    mixed.tar) echo "files $(mixed_list | sha256sum | cut -c1-16)" ;;
    *) die "unknown input $1" ;;
  esac
}

# The documentation files that make the mixed input: regular files, sorted by
# path, with their sizes, up to a little past 32 MiB. Its digest is the
# input's origin, since it depends on the packages installed.
mixed_list() {
  (cd / && find usr/share/doc usr/share/man -type f -printf '%p\t%s\n') | sort |
    awk -F'\t' -v want="${size[mixed.tar]}" 'total < want + 1048576 { print; total += $2 + 1024 }'
}

sha_of() { sha256sum "$1" | cut -d' ' -f1; }

# True when the input is present and matches its record.
is_current() {
  local name=$1 f="$inputs/$1" meta="$inputs/$1.meta"
  [ -f "$f" ] && [ -f "$meta" ] || return 1
  [ "$(stat -c %s "$f")" = "${size[$name]}" ] || return 1
  local want_sha want_origin
  want_sha=$(sed -n 's/^sha256 //p' "$meta")
  want_origin=$(sed -n 's/^origin //p' "$meta")
  [ "$want_origin" = "$(origin_of "$name")" ] || return 1
  [ "$(sha_of "$f")" = "$want_sha" ]
}

# Checks the new file against its size and any pinned digest, then records it.
finish() {
  local name=$1 tmp=$2 origin sha key
  origin=$(origin_of "$name")
  [ "$(stat -c %s "$tmp")" = "${size[$name]}" ] ||
    die "$name: $(stat -c %s "$tmp") bytes, expected ${size[$name]}"
  sha=$(sha_of "$tmp")
  for key in "$name" "$name $origin"; do
    if [ -n "${pinned[$key]:-}" ] && [ "${pinned[$key]}" != "$sha" ]; then
      die "$name: sha256 $sha differs from the known ${pinned[$key]} ($origin)"
    fi
  done
  mv -f "$tmp" "$inputs/$name"
  printf 'sha256 %s\norigin %s\n' "$sha" "$origin" >"$inputs/$name.meta"
  say "$name: ${size[$name]} bytes, sha256 $sha ($origin)"
}

# One corpus, in the order of the corpus README's table, with owner, times and
# modes fixed so that the tar does not depend on the checkout.
make_tar() {
  local name=$1 sub=${1%.tar} tmp="$inputs/.$1.tmp"
  [ -f "$corpus/README.md" ] || die "no corpus at $corpus"
  awk -F'|' -v d="$sub/" '{ f = $2; gsub(/ /, "", f) } index(f, d) == 1 { print f }' \
    "$corpus/README.md" >"$tmp.list"
  [ -s "$tmp.list" ] || die "no $sub files listed in $corpus/README.md"
  tar -C "$corpus" --format=ustar --owner=0 --group=0 --numeric-owner --mtime=@0 \
    --mode=0644 --no-recursion -cf "$tmp" -T "$tmp.list"
  rm -f "$tmp.list"
  finish "$name" "$tmp"
}

make_kernel() {
  need_pkgs linux-source-6.1 xz-utils
  local src=/usr/src/linux-source-6.1.tar.xz work="$inputs/.kernel.d" tmp="$inputs/.kernel-c.txt.tmp"
  [ -f "$src" ] || die "$src missing after installing linux-source-6.1"
  rm -rf "$work"
  mkdir -p "$work"
  tar -xJf "$src" -C "$work" linux-source-6.1/fs linux-source-6.1/kernel \
    linux-source-6.1/mm linux-source-6.1/net
  (cd "$work" && find linux-source-6.1 -type f \( -name '*.c' -o -name '*.h' \) -print0 |
    sort -z | xargs -0 cat --) >"$tmp"
  rm -rf "$work"
  [ "$(stat -c %s "$tmp")" -ge "${size[kernel-c.txt]}" ] || die "kernel sources shorter than wanted"
  truncate -s "${size[kernel-c.txt]}" "$tmp"
  finish kernel-c.txt "$tmp"
}

make_llvm() {
  need_pkgs libllvm15:amd64
  local lib=/usr/lib/x86_64-linux-gnu/libLLVM-15.so.1 tmp="$inputs/.libllvm.so.tmp"
  [ -f "$lib" ] || die "$lib missing after installing libllvm15"
  head -c "${size[libllvm.so]}" "$lib" >"$tmp"
  finish libllvm.so "$tmp"
}

# Log lines from a fixed-seed generator of its own (xorshift64*), so the bytes
# do not depend on the Python version's random module.
make_mixed() {
  local tmp="$inputs/.mixed.tar.tmp"
  mixed_list | cut -f1 >"$tmp.list"
  tar -C / --format=gnu --owner=0 --group=0 --numeric-owner --mtime=@0 --mode=0644 \
    --no-recursion -cf "$tmp" -T "$tmp.list"
  rm -f "$tmp.list"
  [ "$(stat -c %s "$tmp")" -ge "${size[mixed.tar]}" ] || die "documentation files shorter than wanted"
  truncate -s "${size[mixed.tar]}" "$tmp"
  finish mixed.tar "$tmp"
}

make_log() {
  local tmp="$inputs/.server.log.tmp"
  python3 - "${size[server.log]}" "$tmp" <<'PY'
import sys, time

want, path = int(sys.argv[1]), sys.argv[2]
M64 = (1 << 64) - 1
state = 0x9E3779B97F4A7C15

def rnd(n):
    global state
    x = state
    x ^= x >> 12
    x ^= (x << 25) & M64
    x ^= x >> 27
    state = x
    return (((x * 0x2545F4914F6CDD1D) & M64) >> 33) % n

def pick(seq):
    return seq[rnd(len(seq))]

hosts = ["web-%02d" % i for i in range(1, 9)]
services = ["orders", "cart", "auth", "search", "billing", "inventory"]
paths = ["/", "/index.html", "/api/v1/items", "/api/v1/items/%d", "/api/v1/cart", "/api/v1/cart/%d/add",
         "/api/v1/orders/%d", "/api/v1/search?q=%s", "/static/app.%d.js", "/static/style.css",
         "/login", "/logout", "/api/v1/users/%d/profile", "/healthz", "/metrics"]
words = ["shoes", "laptop", "coffee", "desk", "lamp", "cable", "phone", "case", "chair", "book"]
agents = ['Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0',
          'Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36',
          'Mozilla/5.0 (Macintosh; Intel Mac OS X 13_5) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/16.6 Safari/605.1.15',
          'curl/7.88.1', 'kube-probe/1.27', 'Prometheus/2.45.0']
methods = ["GET"] * 8 + ["POST", "PUT", "DELETE"]
statuses = [200] * 30 + [201, 204, 301, 304, 304, 400, 401, 403, 404, 404, 500, 502, 503]
levels = ["INFO"] * 12 + ["DEBUG"] * 6 + ["WARN"] * 2 + ["ERROR"]
messages = ["request handled", "cache hit", "cache miss", "db query", "upstream call",
            "session refreshed", "rate limit check", "payment authorized", "item reserved"]
trace = ["    at com.example.shop.%s.Handler.handle(Handler.java:%d)",
         "    at com.example.shop.http.Router.dispatch(Router.java:212)",
         "    at com.example.shop.http.Server.lambda$serve$0(Server.java:88)",
         "    at java.base/java.util.concurrent.ThreadPoolExecutor.runWorker(ThreadPoolExecutor.java:1136)",
         "    at java.base/java.lang.Thread.run(Thread.java:833)"]

def fill(p):
    if "%d" in p:
        return p % rnd(100000)
    if "%s" in p:
        return p % pick(words)
    return p

t_ms = 1709251200000  # 2024-03-01 00:00:00 UTC
second, stamp_iso, stamp_clf = -1, "", ""
out, total = [], 0
with open(path, "wb") as f:
    while total < want:
        t_ms += rnd(40)
        s = t_ms // 1000
        if s != second:
            second = s
            g = time.gmtime(s)
            stamp_iso = time.strftime("%Y-%m-%dT%H:%M:%S", g)
            stamp_clf = time.strftime("%d/%b/%Y:%H:%M:%S +0000", g)
        ms = t_ms % 1000
        if rnd(3) == 0:
            line = '10.%d.%d.%d - - [%s] "%s %s HTTP/1.1" %d %d "-" "%s"\n' % (
                rnd(4), rnd(256), rnd(256), stamp_clf, pick(methods), fill(pick(paths)),
                pick(statuses), rnd(60000), pick(agents))
        else:
            svc, lvl = pick(services), pick(levels)
            line = "%s.%03dZ %s %s[%d]: %-5s %s id=%016x user=%d path=%s status=%d dur_ms=%d\n" % (
                stamp_iso, ms, pick(hosts), svc, 1000 + rnd(8), lvl, pick(messages),
                (rnd(1 << 30) << 30) | rnd(1 << 30), rnd(5000), fill(pick(paths)), pick(statuses),
                rnd(rnd(2000) + 1))
            if lvl == "ERROR":
                line += "java.lang.IllegalStateException: %s failed for id %d\n" % (pick(messages), rnd(100000))
                line += trace[0] % (svc, 40 + rnd(200)) + "\n" + "\n".join(trace[1:]) + "\n"
        out.append(line)
        total += len(line)
        if len(out) >= 4096:
            f.write("".join(out).encode())
            out = []
    f.write("".join(out).encode())
    f.truncate(want)
PY
  finish server.log "$tmp"
}

if [ $# = 0 ]; then
  if [ "${QUICK:-0}" = 1 ]; then set -- calgary.tar canterbury.tar
  else set -- calgary.tar canterbury.tar kernel-c.txt libllvm.so server.log mixed.tar; fi
fi
for name in "$@"; do
  [ -n "${size[$name]:-}" ] || die "unknown input $name (known: ${!size[*]})"
  if is_current "$name"; then
    say "$name: present"
    continue
  fi
  case "$name" in
    mixed.tar) make_mixed ;;
    *.tar) make_tar "$name" ;;
    kernel-c.txt) make_kernel ;;
    libllvm.so) make_llvm ;;
    server.log) make_log ;;
  esac
done
