#!/usr/bin/env bash
# The installed library in use: installs the build into a temporary prefix, builds the
# consumer of tests/install/consumer against it with find_package(ftpc COMPONENTS compress)
# and with pkg-config (ftpc-compress), and lets both download a file from a throw-away vsftpd
# on port 21 (needs root). A prefix without the compress component must not satisfy the
# consumer. Also makes the Debian packages and runs the ftp they hold (unpacked, not installed).
# Environment: FTPC_BUILD_DIR (default build, configured and built already).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
source scripts/loopback-vsftpd.sh

build_dir=${FTPC_BUILD_DIR:-build}
work=$(mktemp -d /tmp/ftpc-install.XXXXXX)
trap 'ftpc_vsftpd_stop; rm -rf "$work"' EXIT
prefix=$work/prefix
consumer=tests/install/consumer

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
cmake -S "$consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
# shellcheck disable=SC2046  # the flags are separate words
g++ -std=c++20 "$consumer/main.cpp" \
  $(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs ftpc-compress) \
  -Wl,-rpath,"$prefix/lib" -o "$work/consumer-pkg-config"

cmake --install "$build_dir" --component main --prefix "$work/main-only" >/dev/null
if cmake -S "$consumer" -B "$work/main-only-build" -DCMAKE_PREFIX_PATH="$work/main-only" \
  >/dev/null 2>&1; then
  echo "FAILED: find_package(ftpc COMPONENTS compress) without the component installed" >&2
  exit 1
fi
echo "ok: the compress component is missing where it is not installed"

(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build_dir"/ftpconsole_*.deb | head -1)
for plugin in compress tls; do
  plugin_deb=$(ls -t "$build_dir"/ftpconsole-${plugin}_*.deb | head -1)
  # The whole listing first: grep -q would stop reading and break dpkg-deb's pipe.
  contents=$(dpkg-deb -c "$plugin_deb")
  grep -q "lib/libftpc_${plugin}" <<<"$contents" ||
    { echo "FAILED: no plug-in in $plugin_deb" >&2; exit 1; }
done
dpkg-deb -x "$deb" "$work/deb"
# A shared build's tool finds its library in the unpacked tree.
banner=$(LD_LIBRARY_PATH="$work/deb/usr/lib" "$work/deb/usr/bin/ftp" g none "$work/none" 127.0.0.1 user password /)
[ "$(wc -l <<<"$banner")" -eq 2 ] || { echo "FAILED: ftp from $deb" >&2; exit 1; }
echo "ok: $(basename "$deb") holds a working ftp"

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: the consumers' downloads from vsftpd on port 21 are skipped" >&2
  exit 0
fi
ftpc_install_test_servers
ftpc_vsftpd_start "$work"
head -c 100000 /dev/urandom >"$ftpc_vsftpd_root/remote.bin"
status=0
for program in "$work/cmake-build/consumer" "$work/consumer-pkg-config"; do
  "$program" "$ftpc_vsftpd_address" "$FTPC_TEST_USER" ftppass remote.bin "$work/got.bin"
  if cmp -s "$ftpc_vsftpd_root/remote.bin" "$work/got.bin"; then
    echo "ok: $(basename "$program") downloaded the file"
  else
    echo "FAILED: $(basename "$program")" >&2
    status=1
  fi
  rm -f "$work/got.bin"
done
exit "$status"
