#!/usr/bin/env bash
# Sets up a Debian 12 machine for Dirtvane, builds the game and its starter data,
# then plays it ("./setup.sh play", the default) or runs every test ("./setup.sh test").
set -euo pipefail
cd "$(dirname "$0")"
what="${1:-play}"
shift || true

build_packages="cmake ninja-build g++ pkg-config libode-dev libsdl2-dev libpng-dev zlib1g-dev
  libgl-dev googletest libgtest-dev libbenchmark-dev xvfb"
test_packages="clang libclang-rt-14-dev gzip"

install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

jobs="$(nproc)"
build_dir="${DV_BUILD_DIR:-build}"

case "$what" in
  play)
    install_missing $build_packages
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build_dir" -j "$jobs"
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      echo "No display found: running the game under Xvfb."
      exec xvfb-run -a -s "-screen 0 1280x1024x24" "$build_dir/dirtvane" "$@"
    fi
    exec "$build_dir/dirtvane" "$@"
    ;;
  test)
    install_missing $build_packages $test_packages
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build_dir" -j "$jobs"
    ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" --timeout 600
    # The readers of outside data, fuzzed for a bounded time with sanitizers.
    tests/fuzz/run_fuzzers.sh "${DV_FUZZ_SECONDS:-10}"
    ;;
  *)
    echo "usage: $0 [play|test] [game options]" >&2
    exit 2
    ;;
esac
