#!/usr/bin/env bash
# The tool's main job, shown end to end: installs what is missing (as root), builds the tool,
# starts a throw-away vsftpd on port 21 of a free loopback address, uploads a file with the
# tool, downloads it back under a new name and compares the bytes. Every process it starts is
# stopped on exit. Exits non-zero when the round trip does not match.
# Environment: FTPC_BUILD_DIR (default build), FTPC_DEMO_SIZE (bytes, default 4 MiB).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
source scripts/loopback-vsftpd.sh

build_dir=${FTPC_BUILD_DIR:-build}
size=${FTPC_DEMO_SIZE:-4194304}

step() { printf '\n== %s\n' "$*"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "demo.sh runs as root: it installs packages, logs in as the system user" \
    "$FTPC_TEST_USER and listens on port 21." >&2
  exit 1
fi

step "Installing what is missing (build tools, vsftpd)"
ftpc_install_build_deps
ftpc_install_test_servers

step "Building the tool (cmake, target ftp)"
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" --target ftp
tool=$PWD/$build_dir/ftp

work=$(mktemp -d /tmp/ftpc-demo.XXXXXX)
trap 'ftpc_vsftpd_stop; rm -rf "$work"' EXIT

step "Starting vsftpd on port 21 of a loopback address"
ftpc_vsftpd_start "$work"
address=$ftpc_vsftpd_address
echo "vsftpd (pid $ftpc_vsftpd_pid) listens on $address:21; user $FTPC_TEST_USER;" \
  "its root directory is $ftpc_vsftpd_root"

step "Making a test file of $size random bytes"
head -c "$size" /dev/urandom > "$work/original.bin"

step "Uploading it: ftp p $work/original.bin uploaded.bin $address $FTPC_TEST_USER ******** /"
"$tool" p "$work/original.bin" uploaded.bin "$address" "$FTPC_TEST_USER" ftppass /
ls -l "$ftpc_vsftpd_root"

step "Downloading it back: ftp g uploaded.bin $work/downloaded.bin $address $FTPC_TEST_USER ******** /"
"$tool" g uploaded.bin "$work/downloaded.bin" "$address" "$FTPC_TEST_USER" ftppass /

step "Comparing the bytes (sha256sum)"
sha256sum "$work/original.bin" "$ftpc_vsftpd_root/uploaded.bin" "$work/downloaded.bin" 2>&1 || true
if cmp -s "$work/original.bin" "$ftpc_vsftpd_root/uploaded.bin" &&
  cmp -s "$work/original.bin" "$work/downloaded.bin"; then
  echo "OK: the file went up and came back with every byte unchanged."
else
  echo "FAILED: the round trip did not return the same bytes." >&2
  exit 1
fi
