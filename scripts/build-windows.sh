#!/usr/bin/env bash
# Cross-builds the Windows executables with mingw-w64: build-windows/ftp.exe, every other
# executable target of the build (ftpc-cli.exe, ...) and the Windows test executables, all
# statically linked (no DLL beside them). Installs the tool chain when run as root.
# Environment: FTPC_WINDOWS_BUILD_DIR (default build-windows); CI=true adds -Werror.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
ftpc_install_windows_deps

build_dir=${FTPC_WINDOWS_BUILD_DIR:-build-windows}
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DFTPC_WERROR="$werror" "${launcher[@]}" >/dev/null
cmake --build "$build_dir"

# Every executable lands at the top of the build directory; none may need a DLL of the tool
# chain (only system DLLs).
status=0
for exe in "$build_dir"/*.exe; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)'; then
    echo "$exe needs a tool-chain DLL" >&2
    status=1
  fi
done
ls "$build_dir"/*.exe
exit "$status"
