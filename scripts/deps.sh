#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Sourced by demo.sh and test.sh; takes the package list as arguments.
set -euo pipefail

kestnet_install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing Debian packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What every build needs.
KESTNET_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config
  libsqlite3-dev libffi-dev libicu-dev duktape-dev)
# What the tests and benchmarks add: test frameworks and the real peers the
# integration tests start on loopback or in private network namespaces.
KESTNET_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev iproute2 procps dnsmasq-base)
# What the main job adds to show the network objects: a DNS server of its own
# inside a private network namespace.
KESTNET_DEMO_PACKAGES=(iproute2 dnsmasq-base)
