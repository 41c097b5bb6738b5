#!/usr/bin/env bash
# FTPS download benchmark: a file (1 GiB by default) fetched over explicit TLS with protected
# data (PROT P) from a throw-away vsftpd on loopback (which insists on TLS session reuse for
# data connections), by the library with its OpenSSL handler (bench/tools/ftp-null-get with a
# CA file) and by curl, both into nowhere and both checking the server's certificate.
# The clients alternate, the order rotating every run; medians of wall time and client CPU
# (user+sys) come from /usr/bin/time. Runs as root. Environment: FTPC_BENCH_RUNS (default 5),
# FTPC_BENCH_SIZE_MIB (default 1024), FTPC_BUILD_DIR (default build).
# The machine may be shared: compare the clients within one run, not across runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh

runs=${FTPC_BENCH_RUNS:-5}
size_mib=${FTPC_BENCH_SIZE_MIB:-1024}
build_dir=${FTPC_BUILD_DIR:-build}
user=$FTPC_TEST_USER
password=ftppass

[ "$(id -u)" -eq 0 ] || { echo "ftps-bench.sh runs as root (vsftpd on port 21)" >&2; exit 1; }
ftpc_install_build_deps
ftpc_install_test_servers
ftpc_ensure_packages time curl openssl
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" --target ftp-null-get >/dev/null
null_get=$PWD/$build_dir/ftp-null-get

work=$(mktemp -d /tmp/ftpc-ftps-bench.XXXXXX)
trap 'ftpc_vsftpd_stop; rm -rf "$work"' EXIT
# The server's address is one of 127.0.0.2-254, chosen at start: the certificate names them all.
names=DNS:localhost
for n in $(seq 1 254); do names+=",IP:127.0.0.$n"; done
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -days 2 -subj /CN=localhost -addext "subjectAltName=$names" 2>/dev/null
FTPC_VSFTPD_EXTRA="ssl_enable=YES
rsa_cert_file=$work/cert.pem
rsa_private_key_file=$work/key.pem
force_local_logins_ssl=NO
force_local_data_ssl=NO
require_ssl_reuse=YES"
source scripts/loopback-vsftpd.sh
ftpc_vsftpd_start "$work"
address=$ftpc_vsftpd_address
root=$ftpc_vsftpd_root

# A sparse source file costs no disk time; reading it once first fills the page cache.
truncate -s "${size_mib}M" "$root/big.bin"
chown "$user:" "$root/big.bin"
cat "$root/big.bin" > /dev/null

client_cmd() {
  case $1 in
  lib) echo "$null_get $address $user $password big.bin $work/cert.pem" ;;
  curl) echo "curl -s --ssl-reqd --cacert $work/cert.pem -o /dev/null ftp://$user:$password@$address/big.bin" ;;
  esac
}

results=$work/results   # lines: client wall user sys
: > "$results"
for run in $(seq "$runs"); do
  echo "run $run of $runs" >&2
  order="lib curl"
  [ $((run % 2)) -eq 0 ] && order="curl lib"
  for client in $order; do
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" bash -c "$(client_cmd "$client")" >/dev/null
    echo "$client $(tail -1 "$work/time.txt")" >> "$results"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '%-6s %10s %10s %10s\n' client "MiB/s" "CPU s" "wall s"
for client in lib curl; do
  wall=$(awk -v c="$client" '$1 == c { print $2 }' "$results" | median)
  cpu=$(awk -v c="$client" '$1 == c { print $3 + $4 }' "$results" | median)
  awk -v c="$client" -v s="$size_mib" -v w="$wall" -v u="$cpu" \
    'BEGIN { printf "%-6s %10.1f %10.2f %10.2f\n", c, s / w, u, w }'
done
