#!/usr/bin/env bash
# Builds the libFuzzer targets with Clang, AddressSanitizer and UBSan into build-fuzz,
# and runs each for SECONDS (default 60) from a copy of its committed seed corpus.
# Exits non-zero on the first finding; the input that found it is left in
# build-fuzz/findings/. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(process api cli)

CC=clang CXX=clang++ bash "$root/scripts/build.sh" build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZRFISHEYE_FUZZ=ON -DZRFISHEYE_SANITIZE=address,undefined -DZRFISHEYE_BUILD_TESTS=OFF \
  -DZRFISHEYE_BUILD_BENCH=OFF -DZRFISHEYE_BUILD_PYTHON=OFF -DZRFISHEYE_BUILD_GSTREAMER=OFF
findings="$root/build-fuzz/findings"
mkdir -p "$findings"
for t in "${targets[@]}"; do
  work="$root/build-fuzz/corpus/$t"
  rm -rf "$work" && mkdir -p "$work"
  cp "$root/fuzz/corpus/$t/"* "$work/" 2>/dev/null || true
  echo "== fuzz_$t for ${seconds} s"
  (cd "$findings" && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$root/build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=60 \
    -artifact_prefix="$findings/" $([ "$t" = cli ] && echo -close_fd_mask=3) \
    -print_final_stats=1 "$work" > "$findings/fuzz_$t.log" 2>&1) || {
    tail -n 40 "$findings/fuzz_$t.log"
    echo "fuzz_$t found a fault; its input is in $findings"
    exit 1
  }
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$findings/fuzz_$t.log" | tr '\n' ' '
  echo
done
