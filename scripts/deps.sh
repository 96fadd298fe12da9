#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Sourced by demo.sh and test.sh; takes the package list as arguments.
set -euo pipefail

# Packages that bring a daemon of the machine, with the service their
# maintainer scripts start. The mail and Windows networking tests run these
# servers themselves, in
# the foreground with private configurations; the machine's own service is
# none of our business, so one that only our installation started is stopped
# again (the service's own init script, through invoke-rc.d).
KESTNET_SERVICE_PACKAGES=(dovecot-core:dovecot postfix:postfix samba:smbd samba:nmbd cups-daemon:cups)

# Answers the package questions before apt-get asks them. Postfix: "No
# configuration" writes no main.cf for the machine and starts nothing.
kestnet_preseed_packages() {
  local sudo=$1
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
}

kestnet_install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  # A test peer never replaces what the machine has: postfix, for one,
  # conflicts with any other mail server. Such a package is left out and the
  # tests that need it skip.
  local installable=()
  for pkg in "${missing[@]}"; do
    if apt-get install -s --no-install-recommends "$pkg" 2>/dev/null | grep -q '^Remv '; then
      echo "Not installing $pkg: it would remove packages of this machine" >&2
    else
      installable+=("$pkg")
    fi
  done
  [ ${#installable[@]} -eq 0 ] && return 0
  echo "Installing Debian packages: ${installable[*]}"
  kestnet_preseed_packages "$sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${installable[@]}"
  # Whatever was missing before could not have been running; stop the
  # services these packages started.
  local entry
  for entry in "${KESTNET_SERVICE_PACKAGES[@]}"; do
    if [[ " ${installable[*]} " == *" ${entry%%:*} "* ]]; then
      $sudo invoke-rc.d --quiet "${entry#*:}" stop >/dev/null 2>&1 || true
    fi
  done
}

# What every build needs (OpenSSL: the mail clients' TLS; libsmbclient and
# Samba's libnetapi: the Windows networking calls).
KESTNET_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config
  libsqlite3-dev libffi-dev libicu-dev duktape-dev libssl-dev libsmbclient-dev samba-dev)
# What the tests and benchmarks add: test frameworks and the real peers the
# integration tests start on loopback or in private network namespaces
# (dnsmasq for DNS; dovecot and postfix for POP3 and SMTP, with libcurl as the
# mail benchmark's yardstick, and c-ares the DNS benchmark's; the openssl tool, to look into the certificates
# the TLS fixtures make; samba, smbclient and cups-daemon for the Windows
# networking tests' LAN: smbd, nmbd, samba-dcerpcd, smbpasswd, nmblookup,
# rpcclient, smbclient and the servers' CUPS schedulers).
KESTNET_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev iproute2 procps dnsmasq-base
  dovecot-core dovecot-pop3d postfix libcurl4-openssl-dev libc-ares-dev openssl samba smbclient
  cups-daemon)
# What the main job adds to show the network objects: a DNS server of its own
# inside a private network namespace.
KESTNET_DEMO_PACKAGES=(iproute2 dnsmasq-base)
