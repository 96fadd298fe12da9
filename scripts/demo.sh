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

# The network objects in a private network namespace with a DNS server of its
# own: no traffic leaves the machine. As root a network namespace is enough;
# otherwise a user namespace makes us root inside it.
kestnet_install_packages "${KESTNET_DEMO_PACKAGES[@]}"
if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
  unshare --net "$top/scripts/demo_network.sh" "$kestnet" "$top"
elif unshare --user --map-root-user --net true 2>/dev/null; then
  unshare --user --map-root-user --net "$top/scripts/demo_network.sh" "$kestnet" "$top"
else
  echo "--- no private network namespace can be made here; quickstart against this machine's setup"
  "$kestnet" run "$top/examples/quickstart.js" || true
fi

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
