#!/usr/bin/env bash
# Measures the library's MD5, SHA-1 and CRC-32 over a large file in the page cache, and in the
# same run the openssl tool (dgst -md5, dgst -sha1), zlib's crc32 and OpenSSL's library digests
# over the same file. Rates are bytes per CPU second (user + system), so that other load on
# the machine disturbs every contender alike.
# Usage: bench/hash-bench.sh [SIZE_MIB]   (default 1024; FTPC_BENCH_BUILD_DIR picks the build)
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=${1:-1024}
build_dir=${FTPC_BENCH_BUILD_DIR:-build-bench}
runs=3

echo "== building HashBench in $build_dir" >&2
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" --target HashBench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input=$work/input.bin
echo "== writing a $size_mib MiB file of random bytes" >&2
head -c $((size_mib << 20)) /dev/urandom >"$input"
cat "$input" >/dev/null # into the page cache
size_bytes=$(stat -c %s "$input")

# Best (lowest) CPU seconds of $runs runs of a command.
best_cpu_seconds() {
  local best="" run seconds
  for ((run = 0; run < runs; run++)); do
    seconds=$(/usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | awk 'END { print $1 + $2 }')
    if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$seconds
    fi
  done
  echo "$best"
}

declare -A rate # MB/s by name
if command -v openssl >/dev/null; then
  for digest in md5 sha1; do
    echo "== openssl dgst -$digest" >&2
    seconds=$(best_cpu_seconds openssl dgst "-$digest" "$input")
    rate[openssl_cli_$digest]=$(awk -v b="$size_bytes" -v s="$seconds" 'BEGIN { printf "%.0f", b / s / 1e6 }')
  done
fi

echo "== HashBench over the same file" >&2
csv=$work/bench.csv
FTPC_HASH_BENCH_FILE=$input "$build_dir/HashBench" --benchmark_filter='^File/' \
  --benchmark_format=csv >"$csv" 2>/dev/null
# Columns by header name; Google Benchmark's rates are per CPU second.
while IFS=, read -r name value; do
  rate[$name]=$value
done < <(awk -F, '
  /^name,/ { for (i = 1; i <= NF; i++) if ($i == "bytes_per_second") col = i; next }
  col && NF >= col { gsub(/"/, "", $1); sub(/^File\//, "", $1); sub(/\/.*$/, "", $1); printf "%s,%.0f\n", $1, $col / 1e6 }
' "$csv")

ratio() {
  if [ -n "${rate[$1]:-}" ] && [ -n "${rate[$2]:-}" ]; then
    awk -v a="${rate[$1]}" -v b="${rate[$2]}" 'BEGIN { printf "%.2f", a / b }'
  else
    echo "n/a"
  fi
}

printf '\n%s MiB file in the page cache, MB per CPU second\n' "$size_mib"
printf '%-10s %10s   %-22s %10s   %s\n' digest library reference "" ratio
row() { # label, ours, reference name, reference key
  printf '%-10s %10s   %-22s %10s   %s\n' "$1" "${rate[$2]:-n/a}" "$3" "${rate[$4]:-n/a}" "$(ratio "$2" "$4")"
}
row MD5 MD5 "openssl dgst -md5" openssl_cli_md5
row SHA-1 SHA1 "openssl dgst -sha1" openssl_cli_sha1
row CRC-32 CRC32 "zlib crc32" zlib_crc32
row MD5 MD5 "OpenSSL library" openssl_md5
row SHA-1 SHA1 "OpenSSL library" openssl_sha1
printf '%-10s %10s   (portable code, acceleration off)\n' SHA-1 "${rate[SHA1_portable]:-n/a}"
printf '%-10s %10s   (portable code, acceleration off)\n' CRC-32 "${rate[CRC32_portable]:-n/a}"
