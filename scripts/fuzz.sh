#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (into build-fuzz/) and runs each
# for SECONDS seconds (default 60), starting from its seed corpus in fuzz/corpus/.
# New inputs go to build-fuzz/corpus/, never into the tree. Prints the executions
# per target; exits non-zero when a target finds an input that breaks its property.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=(bmp_reader settings_loader descriptors ram_image frame_check c2_image hot_pixel_map)

if [ ! -f build-fuzz/CMakeCache.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DOKC_FUZZ=ON -DOKC_BUILD_TESTS=OFF \
    -DOKC_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build-fuzz --target fuzz_all >/dev/null

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
failed=0
summary=()
for t in "${targets[@]}"; do
  work="build-fuzz/corpus/$t"
  artifacts="build-fuzz/artifacts/$t/"
  mkdir -p "$work" "$artifacts"
  log="build-fuzz/fuzz-$t.log"
  if build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts" \
       "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed=1
    tail -n 30 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$(printf '%-16s %-7s %12s executions' "$t" "$status" "${runs:-?}")")
done
printf '%s\n' "${summary[@]}"
exit "$failed"
