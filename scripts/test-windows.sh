#!/usr/bin/env bash
# The Windows build, tested under Wine: builds the Windows executables (scripts/build-windows.sh),
# runs the Windows unit tests under Wine, then runs ftp.exe under Wine against a throw-away
# vsftpd on port 21 of a loopback address: an upload and a download compared byte for byte,
# a failed download that leaves no file, and a wrong password that ends silently with exit
# status 0; then ftpc-cli.exe the same way: a put and a get byte-exact, and a failed get
# that exits 1 and leaves no file. Installs wine64 and the mingw-w64 tool chain when run as
# root; the vsftpd part needs root (it is skipped, with a note, otherwise).
# Environment: FTPC_WINDOWS_BUILD_DIR (default build-windows); CI=true adds -Werror.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
source scripts/loopback-vsftpd.sh

build_dir=${FTPC_WINDOWS_BUILD_DIR:-build-windows}
step() { printf '\n== %s\n' "$*"; }

step "Windows build ($build_dir)"
bash scripts/build-windows.sh

work=$(mktemp -d /tmp/ftpc-windows.XXXXXX)
# A Wine prefix of our own, quiet; created on first use (a few seconds). Its wineserver
# outlives the last program by a few seconds and is stopped before the prefix is removed.
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() { "${FTPC_WINE%64}server" -k 2>/dev/null || true; "${FTPC_WINE%64}server" -w 2>/dev/null || true; }
trap 'ftpc_vsftpd_stop; stop_wine; rm -rf "$work"' EXIT
"$FTPC_WINE" wineboot --init >/dev/null 2>&1 || true

step "Unit tests under Wine"
ctest --test-dir "$build_dir" --output-on-failure

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: the runs of ftp.exe against vsftpd on port 21 are skipped" >&2
  exit 0
fi
ftpc_install_test_servers

step "ftp.exe under Wine against vsftpd on port 21"
ftpc_vsftpd_start "$work"
address=$ftpc_vsftpd_address
root=$ftpc_vsftpd_root
tool=$PWD/$build_dir/ftp.exe
failures=0
check() { # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
# Runs the tool; its exit status must be 0 on every path.
ftp_exe() { "$FTPC_WINE" "$tool" "$@" >"$work/tool.out" 2>"$work/tool.err"; }
banner_only() { [ "$(wc -l <"$work/tool.out")" -eq 2 ]; }

head -c 3000000 /dev/urandom >"$work/original.bin"
check "upload exits 0" ftp_exe p "$work/original.bin" up.bin "$address" "$FTPC_TEST_USER" ftppass /
check "upload is byte-exact" cmp -s "$work/original.bin" "$root/up.bin"
check "download exits 0" ftp_exe g up.bin "$work/down.bin" "$address" "$FTPC_TEST_USER" ftppass /
check "download is byte-exact" cmp -s "$work/original.bin" "$work/down.bin"
check "failed download exits 0" ftp_exe g missing.bin "$work/missing.bin" "$address" "$FTPC_TEST_USER" ftppass /
check "failed download leaves no file" test ! -e "$work/missing.bin"
check "wrong password exits 0" ftp_exe g up.bin "$work/denied.bin" "$address" "$FTPC_TEST_USER" wrong /
check "wrong password prints only the banner" banner_only
check "wrong password leaves no file" test ! -e "$work/denied.bin"

step "ftpc-cli.exe under Wine against the same vsftpd"
cli=$PWD/$build_dir/ftpc-cli.exe
url=ftp://$FTPC_TEST_USER:ftppass@$address
# Runs ftpc-cli.exe; succeeds when its exit status is the first argument.
cli_exits() {
  local want=$1 status=0
  shift
  "$FTPC_WINE" "$cli" "$@" >"$work/cli.out" 2>"$work/cli.err" || status=$?
  [ "$status" -eq "$want" ]
}
# Nothing named after the file is left in the directory (no partial download either).
nothing_named() { ! ls -A "$work" | grep -qF "$1"; }
check "ftpc-cli put exits 0" cli_exits 0 put "$work/original.bin" "$url/cli-up.bin"
check "ftpc-cli put is byte-exact" cmp -s "$work/original.bin" "$root/cli-up.bin"
check "ftpc-cli get exits 0" cli_exits 0 get "$url/cli-up.bin" "$work/cli-down.bin"
check "ftpc-cli get is byte-exact" cmp -s "$work/original.bin" "$work/cli-down.bin"
check "ftpc-cli failed get exits 1" cli_exits 1 get "$url/missing.bin" "$work/cli-missing.bin"
check "ftpc-cli failed get says why" grep -q "^ftpc-cli: " "$work/cli.err"
check "ftpc-cli failed get leaves no file" nothing_named cli-missing.bin
echo keep >"$work/keep.txt"
check "ftpc-cli get onto an existing file exits 1" cli_exits 1 get "$url/cli-up.bin" "$work/keep.txt"
check "ftpc-cli get leaves an existing file alone" grep -qx keep "$work/keep.txt"
check "ftpc-cli get --force replaces it" cli_exits 0 --force get "$url/cli-up.bin" "$work/keep.txt"
check "ftpc-cli get --force is byte-exact" cmp -s "$work/original.bin" "$work/keep.txt"

[ "$failures" -eq 0 ] && echo "Windows tool runs: all passed"
exit $((failures > 0))
