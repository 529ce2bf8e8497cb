#!/usr/bin/env bash
# Configures and builds into build/, or build-asan/ with --sanitize
# (AddressSanitizer and UndefinedBehaviorSanitizer), or build-tsan/ with --tsan
# (ThreadSanitizer). The sanitizer builds leave the benchmarks out.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build; extra=()
case "${1:-}" in
  --sanitize) dir=build-asan; extra=(-DOKC_SANITIZE=ON -DOKC_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  --tsan) dir=build-tsan; extra=(-DOKC_TSAN=ON -DOKC_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--tsan]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja "${extra[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
