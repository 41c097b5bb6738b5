#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when run as root and only when
# something is missing. Sourced by the README commands; safe to run again.
set -euo pipefail

# Build and unit-test tool chain.
FTPC_BUILD_PACKAGES=(cmake ninja-build g++ ccache libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libssl-dev openssl pkgconf dpkg-dev)

ftpc_missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
  done
}

ftpc_apt_updated=0
ftpc_ensure_packages() {
  local missing
  missing=$(ftpc_missing_packages "$@")
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (run as root to install them): $missing" >&2
    return 1
  fi
  # Keep package scripts from starting system daemons (FTP servers, proxies) on install.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
  fi
  if [ "$ftpc_apt_updated" -eq 0 ]; then
    apt-get update -qq
    ftpc_apt_updated=1
  fi
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

ftpc_install_build_deps() {
  ftpc_ensure_packages "${FTPC_BUILD_PACKAGES[@]}"
}

# The fuzz targets: clang with its sanitizer and libFuzzer run-time libraries.
FTPC_FUZZ_PACKAGES=(clang libclang-rt-dev)
ftpc_install_fuzz_deps() {
  ftpc_ensure_packages "${FTPC_FUZZ_PACKAGES[@]}"
}

# The Windows cross build (mingw-w64, posix thread model) and Wine to run what it builds.
FTPC_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 cmake ninja-build
  libgtest-dev)
FTPC_WINE=/usr/lib/wine/wine64

ftpc_install_windows_deps() {
  ftpc_ensure_packages "${FTPC_WINDOWS_PACKAGES[@]}"
}

# Real servers and proxies the integration tests start on loopback ports. The three FTP daemons
# conflict as packages (each provides ftp-server), so proftpd is installed and vsftpd and
# pure-ftpd are only unpacked into a prefix of our own.
FTPC_TEST_SERVER_PACKAGES=(proftpd-core proftpd-mod-crypto python3-pyftpdlib python3-openssl openssl
  curl lftp libwrap0 libsodium23 libcap2 dante-server microsocks netcat-openbsd)
FTPC_TEST_SERVERS_PREFIX=${FTPC_TEST_SERVERS_PREFIX:-/opt/ftpconsole-test-servers}
FTPC_TEST_USER=ftptest   # its password is ftppass

# Unpacks the binaries of vsftpd and pure-ftpd (no maintainer scripts run, no conflict).
ftpc_extract_debs() {
  local prefix=$1
  shift
  local work
  work=$(mktemp -d)
  # apt-get download writes into the current directory; the _apt sandbox warning is harmless.
  (cd "$work" && chmod 755 . && apt-get download -qq "$@" 2>/dev/null)
  local deb
  for deb in "$work"/*.deb; do
    dpkg-deb -x "$deb" "$prefix"
  done
  rm -rf "$work"
}

# System services on port 21 (and 1080) would take loopback ports away from the tests.
ftpc_stop_system_ftp_service() {
  if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    systemctl disable --now proftpd danted >/dev/null 2>&1 || true
  fi
  if [ -f /run/proftpd.pid ] && kill -0 "$(cat /run/proftpd.pid)" 2>/dev/null; then
    kill -TERM "$(cat /run/proftpd.pid)" || true
  fi
}

# vsftpd logs in system users only; the tests log in as this one. The password is stored as a
# SHA-512 crypt: the default yescrypt costs about 0.3 s per login, which every test would pay.
FTPC_TEST_PASSWORD_HASH='$6$ftpctestsalt$.1zuGguIqVYePT/QoClWWkcO0dYCJHNce52VlMb6kELPmW5taleTzWp6sGkCVBlTVoGnlZxC4b2kdgwTC.wgY/'
ftpc_ensure_test_user() {
  if ! id "$FTPC_TEST_USER" >/dev/null 2>&1; then
    useradd -M -d / -s /usr/sbin/nologin "$FTPC_TEST_USER"
  fi
  if [ "$(getent shadow "$FTPC_TEST_USER" | cut -d: -f2)" != "$FTPC_TEST_PASSWORD_HASH" ]; then
    echo "$FTPC_TEST_USER:$FTPC_TEST_PASSWORD_HASH" | chpasswd -e
  fi
}

ftpc_install_test_servers() {
  # Without root the real-server tests skip themselves, so there is nothing to do.
  [ "$(id -u)" -eq 0 ] || return 0
  ftpc_ensure_packages "${FTPC_TEST_SERVER_PACKAGES[@]}"
  ftpc_stop_system_ftp_service
  if [ ! -x "$FTPC_TEST_SERVERS_PREFIX/usr/sbin/vsftpd" ] || [ ! -x "$FTPC_TEST_SERVERS_PREFIX/usr/sbin/pure-ftpd" ]; then
    if [ "$ftpc_apt_updated" -eq 0 ]; then
      apt-get update -qq
      ftpc_apt_updated=1
    fi
    mkdir -p "$FTPC_TEST_SERVERS_PREFIX"
    ftpc_extract_debs "$FTPC_TEST_SERVERS_PREFIX" vsftpd pure-ftpd
  fi
  ftpc_ensure_test_user
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  ftpc_install_build_deps
  ftpc_install_test_servers
fi
