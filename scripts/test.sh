#!/usr/bin/env bash
# Builds everything and runs every test, then the sanitized runs and a short fuzz smoke.
# Installs what is missing when run as root.
# Environment: CI=true adds -Werror; FTPC_SANITIZE=address|thread runs only that sanitized
# build (the whole suite); FTPC_BUILD_DIR chooses its build directory; FTPC_CTEST_ARGS adds
# ctest arguments to the main run; FTPC_EXTRA_RUNS=0 skips the sanitized runs and the fuzz
# smoke after the plain run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
ftpc_install_build_deps
if declare -F ftpc_install_test_servers >/dev/null; then
  ftpc_install_test_servers
fi

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi

# The threaded tests: abort from another thread, timed and idle-sliced connects, the stack's
# usage counting, thread-safe values, the listener's abort, ftpc-cli's parallel tree sessions.
tsan_targets=(test_core test_stack test_ftp test_server test_examples ftpc-cli)
tsan_tests='FtpAbort|AbortReplies|TCPClientConnectTest|TCPClientIdleTest|StackUsage|ThreadSafe'
tsan_tests+='|SocketHandleConnect|SimpleServer|AntiFreeze|AbortDuringSetUp|DataSetUpFailure'
tsan_tests+='|CliTree'

# build_and_test SANITIZE BUILD_DIR "BUILD TARGETS" CTEST_ARGS...
build_and_test() {
  local sanitize=$1 build_dir=$2 targets=$3
  shift 3
  local start=$SECONDS
  echo "== configure ($build_dir)"
  cmake -S . -B "$build_dir" -G Ninja -DFTPC_WERROR="$werror" -DFTPC_SANITIZE="$sanitize" \
    "${launcher[@]}" >/dev/null
  echo "== build ($build_dir)"
  # shellcheck disable=SC2086
  cmake --build "$build_dir" ${targets:+--target $targets}
  echo "== test ($build_dir)"
  ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" "$@"
  echo "== $build_dir: $((SECONDS - start)) s"
}

echo "== layers"
bash scripts/check-layers.sh

sanitize=${FTPC_SANITIZE:-}
build_dir=${FTPC_BUILD_DIR:-build${sanitize:+-$sanitize}}
# shellcheck disable=SC2086
build_and_test "$sanitize" "$build_dir" "" ${FTPC_CTEST_ARGS:-}
if [ -n "$sanitize" ] || [ "${FTPC_EXTRA_RUNS:-1}" = "0" ]; then
  exit 0
fi

# The installed library and the Windows build (plain builds only: sanitizer flags would have
# to reach the consumer and the cross compiler too).
echo "== install: consumer built against the installed prefix"
FTPC_BUILD_DIR="$build_dir" bash scripts/test-install.sh
echo "== windows: cross build, tests under Wine"
bash scripts/test-windows.sh

# ASan+UBSan over the suite, TSan over the threaded tests; the transfer past 4 GiB and the soak
# (label soak: a thousand sessions, flat descriptors and memory) run in the plain build only.
build_and_test address build-address "" -LE "large|soak"
build_and_test thread build-thread "${tsan_targets[*]}" -R "$tsan_tests"

echo "== fuzz smoke"
FTPC_FUZZ_SECONDS=${FTPC_FUZZ_SECONDS:-5} bash scripts/fuzz.sh 10000000
