#!/usr/bin/env bash
# The main job: builds KestNetX and shows it at work.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"

kestnet_install_packages "${KESTNET_BUILD_PACKAGES[@]}"
build="$top/build-release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTNET_BUILD_TESTS=OFF -DKESTNET_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

kestnet="$build/host/kestnet"
"$kestnet" log --write "KestNet::Demo" 2 "KestNetX demo started"
"$kestnet" log --write "KestNet::Demo" 1 "A warning entry from the demo"
"$kestnet" log --write "KestNet::Demo" 0 "An error entry: also copied to the critical file"
"$kestnet" log -n 10
