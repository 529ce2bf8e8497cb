#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test three times: in the
# normal build, in a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# and in a build with ThreadSanitizer; then each fuzz target for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
(cd build && ctest --output-on-failure -j "$(nproc)")
scripts/build.sh --sanitize
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$(nproc)")
scripts/build.sh --tsan
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -j "$(nproc)")
# Each fuzz target for a few seconds on its seed corpus (clang and libFuzzer).
scripts/fuzz.sh 5
