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

# Register the module and its companions, then compose a message from a script
# through IDispatch, as a user of the objects would.
"$kestnet" setup
"$kestnet" run "$top/examples/compose_message.js" "KestNetX on Linux"

# A named object lives while some process holds it, so a follower keeps the log
# ring open while short-lived processes write into it, and shows each entry as
# it arrives.
"$kestnet" log --follow &
follower=$!
trap 'kill "$follower" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  "$kestnet" log -n 0 >/dev/null 2>&1 && break
  sleep 0.1
done
echo "--- the shared log ring, followed while other processes write:"
"$kestnet" log --write "KestNet::Demo" 2 "KestNetX demo started"
"$kestnet" log --write "KestNet::Demo" 1 "A warning entry from the demo"
"$kestnet" log --write "KestNet::Demo" 0 "An error entry: also copied to the critical file"
sleep 0.5
echo "--- the newest entries, read by another process:"
"$kestnet" log -n 10
