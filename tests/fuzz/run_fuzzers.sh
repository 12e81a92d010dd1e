#!/usr/bin/env bash
# Builds every fuzz target with clang, libFuzzer, AddressSanitizer and UBSan, and runs
# each for a bounded time. Any crash, leak or hang fails the run.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-10}"
dir="${DV_FUZZ_BUILD_DIR:-build-fuzz}"
shopt -s nullglob
targets=(tests/fuzz/fuzz_*.cpp)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets"
  exit 0
fi
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fsanitize=fuzzer-no-link -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DDV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" > /dev/null
cmake --build "$dir" -j "$(nproc)"
passed=0
failed=0
for src in "${targets[@]}"; do
  name="$(basename "$src" .cpp)"
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${name#fuzz_}"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  if "$dir/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=0 "${args[@]}" > "$dir/$name.log" 2>&1; then
    echo "fuzz: $name ok"
    passed=$((passed + 1))
  else
    echo "fuzz: $name FAILED"
    tail -n 40 "$dir/$name.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
