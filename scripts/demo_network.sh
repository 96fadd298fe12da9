#!/usr/bin/env bash
# The network part of the main job, run by demo.sh inside a private network
# namespace: only loopback exists, so the DNS server is our own dnsmasq and
# nothing leaves the machine.
#
#   demo_network.sh KESTNET TOP
set -euo pipefail
kestnet=$1
top=$2

ip link set lo up
work=$(mktemp -d)
dnsmasq_pid=""
cleanup() {
  [ -n "$dnsmasq_pid" ] && kill "$dnsmasq_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/hosts" <<'HOSTS'
127.0.0.10 www.kestnet.test
127.0.0.11 mail.kestnet.test
127.0.0.12 mail.kestnet.test
HOSTS
# Inside the namespace our dnsmasq is the machine's DNS server: KestSysNet
# reports it to every resolver that is not given servers of its own.
echo "nameserver 127.0.0.53" >"$work/resolv.conf"
export KESTNET_RESOLV_CONF="$work/resolv.conf"
dnsmasq=$(PATH="$PATH:/usr/sbin:/sbin" command -v dnsmasq)
# Foreground, so it keeps our user and dies with us.
"$dnsmasq" --no-daemon --conf-file=/dev/null --no-resolv --no-hosts --addn-hosts="$work/hosts" \
  --listen-address=127.0.0.53 --bind-interfaces --port=53 --log-facility=- >"$work/dnsmasq.log" 2>&1 &
dnsmasq_pid=$!
for _ in $(seq 50); do
  grep -q "read $work/hosts" "$work/dnsmasq.log" 2>/dev/null && break
  sleep 0.1
done

echo "--- examples/quickstart.js: ping, TCP ports and names, each event as it arrives"
"$kestnet" run "$top/examples/quickstart.js" --server 127.0.0.53 \
  --tcp 127.0.0.53:53 --tcp 127.0.0.1:9 www.kestnet.test mail.kestnet.test missing.kestnet.test

echo "--- the same objects behind kestnet's own verbs"
"$kestnet" ping 127.0.0.1
"$kestnet" resolve --server 127.0.0.53 www.kestnet.test mail.kestnet.test
"$kestnet" tcptest www.kestnet.test 9 --timeout 2000 || echo "(port 9 refuses, as expected)"
