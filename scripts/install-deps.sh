#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when run as root and only when
# something is missing. Sourced by the README commands; safe to run again.
set -euo pipefail

# Build and unit-test tool chain.
FTPC_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libssl-dev openssl)

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

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  ftpc_install_build_deps
fi
