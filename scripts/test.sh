#!/usr/bin/env bash
# Builds everything and runs every test. Installs what is missing when run as root.
# Environment: CI=true adds -Werror; FTPC_SANITIZE=address|thread builds with sanitizers;
# FTPC_BUILD_DIR chooses the build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
ftpc_install_build_deps
if declare -F ftpc_install_test_servers >/dev/null; then
  ftpc_install_test_servers
fi

sanitize=${FTPC_SANITIZE:-}
build_dir=${FTPC_BUILD_DIR:-build${sanitize:+-$sanitize}}
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

echo "== layers"
bash scripts/check-layers.sh
echo "== configure ($build_dir)"
cmake -S . -B "$build_dir" -G Ninja -DFTPC_WERROR="$werror" -DFTPC_SANITIZE="$sanitize" >/dev/null
echo "== build"
cmake --build "$build_dir"
echo "== test"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" ${FTPC_CTEST_ARGS:-}
# The installed library and the Windows build (plain builds only: sanitizer flags would have
# to reach the consumer and the cross compiler too).
if [ -z "$sanitize" ]; then
  echo "== install: consumer built against the installed prefix"
  FTPC_BUILD_DIR="$build_dir" bash scripts/test-install.sh
  echo "== windows: cross build, tests under Wine"
  bash scripts/test-windows.sh
fi
