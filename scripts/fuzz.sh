#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a number of executions.
#   scripts/fuzz.sh [RUNS] [TARGET...]     RUNS defaults to 1000000; targets to all of them
# Environment: FTPC_FUZZ_SECONDS caps each target's run time as well (the CI smoke);
# FTPC_FUZZ_BUILD_DIR chooses the build directory (default build-fuzz).
# Each target starts from its seed corpus in fuzz/corpus/<name> and keeps what it learns in
# <build>/corpus/<name>; a finding stops the run and is left in <build>/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
ftpc_install_fuzz_deps

runs=${1:-1000000}
shift || true
build_dir=${FTPC_FUZZ_BUILD_DIR:-build-fuzz}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DFTPC_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build_dir"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*Fuzz.cpp; do
    name=$(basename "$source" Fuzz.cpp)
    targets+=("${name,,}")
  done
fi

mkdir -p "$build_dir/artifacts"
for target in "${targets[@]}"; do
  corpus="$build_dir/corpus/$target"
  mkdir -p "$corpus"
  limit=()
  [ -n "${FTPC_FUZZ_SECONDS:-}" ] && limit=(-max_total_time="$FTPC_FUZZ_SECONDS")
  echo "== fuzz_$target ($runs runs${FTPC_FUZZ_SECONDS:+, at most ${FTPC_FUZZ_SECONDS} s})"
  log="$build_dir/fuzz_$target.log"
  if ! "$build_dir/fuzz_$target" -runs="$runs" "${limit[@]}" -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$build_dir/artifacts/$target-" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target: finding, see $build_dir/artifacts/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$log" | sed "s/^/fuzz_$target /"
done
