#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time from a copy of
# its seed corpus in fuzz/corpus/. Fails on any crash, hang, leak or broken
# check; the input that did it is kept under $BUILD_DIR/artifacts/.
#
#   VORB_FUZZ_SECONDS  run time of each target (default 60)
#   BUILD_DIR          build directory (default build-fuzz)
#   JOBS               parallel build jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${VORB_FUZZ_SECONDS:-60}
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-2}
TARGETS=(fuzz_unpack:unpack fuzz_block_decode:block_decode fuzz_round_trip:round_trip
         fuzz_index_forge:index_forge fuzz_index_cut:index_cut fuzz_salvage:salvage
         fuzz_recovery:recovery)

# clang and its fuzzer runtime; on a fresh Debian machine they are installed.
can_link_fuzzer() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local tmp
  tmp=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$tmp/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$tmp/t.cpp" -o "$tmp/t" >/dev/null 2>&1
  local ok=$?
  rm -rf "$tmp"
  return $ok
}
if ! can_link_fuzzer; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "fuzz: installing clang and libclang-rt-14-dev" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
  fi
  can_link_fuzzer || { echo "fuzz: clang with libFuzzer is needed (Debian: clang libclang-rt-14-dev)" >&2; exit 1; }
fi
scripts/setup.sh

# A build directory configured with another compiler cannot be switched.
if [ -f "$BUILD_DIR/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$BUILD_DIR/CMakeCache.txt"; then
  rm -rf "$BUILD_DIR"
fi
# Assertions stay on (no NDEBUG): the sort's internal checks are part of what
# the round trip puts to the test.
cmake -S . -B "$BUILD_DIR" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" \
  -DVORB_BUILD_FUZZERS=ON -DVORB_BUILD_TESTS=OFF -DVORB_SANITIZE=address,undefined
cmake --build "$BUILD_DIR" -j"$JOBS" --target "${TARGETS[@]%%:*}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
artifacts="$BUILD_DIR/artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
for t in "${TARGETS[@]}"; do
  target=${t%%:*}
  seeds=${t#*:}
  mkdir -p "$work/$seeds"
  cp fuzz/corpus/"$seeds"/* "$work/$seeds/"
  echo "fuzz: $target for ${SECONDS_EACH}s" >&2
  if ! "$BUILD_DIR/fuzz/$target" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work/$seeds" 2>"$work/$target.log"; then
    tail -n 60 "$work/$target.log" >&2
    echo "fuzz: $target failed; the input is in $artifacts/" >&2
    failed=1
  else
    grep -E '^stat::number_of_executed_units|DONE' "$work/$target.log" >&2 || true
  fi
done
exit $failed
