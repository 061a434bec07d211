#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build, then the
# whole suite under AddressSanitizer with UBSan, then the concurrent tests and a
# 60-second soak under ThreadSanitizer, then each fuzz target for 60 seconds.
# Exits non-zero on the first failure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/deps.sh

echo "== Build and test"
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j2

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRFISHEYE_SANITIZE=address,undefined \
  -DZRFISHEYE_BUILD_BENCH=OFF -DZRFISHEYE_BUILD_TOOLS=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j2

echo "== ThreadSanitizer"
bash scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRFISHEYE_SANITIZE=thread \
  -DZRFISHEYE_BUILD_BENCH=OFF -DZRFISHEYE_BUILD_TOOLS=OFF -DZRFISHEYE_SOAK=ON -DZRFISHEYE_SOAK_SECONDS=60
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j2 -L 'base_test|dewarper_test|engine_test|kernel_test'

echo "== Soak under ThreadSanitizer (60 s)"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -L soak

echo "== Fuzzing (60 s a target)"
bash scripts/fuzz.sh 60
echo "All test runs passed."
