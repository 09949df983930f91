#!/usr/bin/env bash
# Builds everything and runs every test: the full build, the core again under
# AddressSanitizer + UndefinedBehaviorSanitizer, and each fuzz target for a bounded time.
set -u
cd "$(dirname "$0")"
scripts/install-deps.sh || exit 1
jobs=$(nproc)
fuzz_seconds=${VELTRANE_FUZZ_SECONDS:-30}
status=0
summary=()

stage() { # name build-dir ctest-args cmake-args...
  local name=$1 dir=$2 ctest_args=$3; shift 3
  echo "=== $name ==="
  if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; summary+=("$name: configure FAILED"); status=1; return
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    summary+=("$name: build FAILED"); status=1; return
  fi
  local log="$dir/ctest.log"
  # shellcheck disable=SC2086
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" $ctest_args 2>&1 | tee "$log"
  if [ "${PIPESTATUS[0]}" -ne 0 ]; then status=1; fi
  summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -1)")
}

mkdir -p build build-asan build-fuzz
rm -f build/ctest.log build-asan/ctest.log build-fuzz/ctest.log
stage "full build" build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage "sanitizers (core)" build-asan "-L core" -DCMAKE_BUILD_TYPE=Debug \
  -DVELTRANE_CORE_ONLY=ON -DVELTRANE_SANITIZE=ON -DVELTRANE_BENCH=OFF
stage "fuzz (${fuzz_seconds}s each)" build-fuzz "-L fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELTRANE_CORE_ONLY=ON -DVELTRANE_FUZZ=ON -DVELTRANE_FUZZ_SECONDS="$fuzz_seconds"

echo "=== summary ==="
printf '%s\n' "${summary[@]}"
# One closing line over all stages, from the lines CTest printed.
totals=$(cat build/ctest.log build-asan/ctest.log build-fuzz/ctest.log 2>/dev/null |
  sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' |
  awk '{f+=$1; t+=$2} END {printf "%d passed, %d failed", t-f, f}')
echo "$totals"
exit $status
