#!/usr/bin/env bash
# Whole-transfer benchmark: the tool against curl and lftp through a throw-away vsftpd on
# loopback (127.0.0.N:21), with a plain socket copy of the same bytes as the physical limit;
# the library's own client (bench/tools/ftp-null-get) is the tool's row for /dev/null.
# Two memory states, both measured:
#   cold  the clients interleaved, order rotated each round, each client's output deleted right
#         after its run: every run starts after another client wrote and deleted a large file,
#         as a single run in real use does;
#   warm  each client back to back, its own previous output just deleted.
# Medians and min..max spread of wall time, client CPU (user+sys) and peak RSS come from
# /usr/bin/time; the 1-byte file gives the whole-run latency. Results go to stdout as tables
# ready to paste, followed by the tool's ratios against the goals.
# Runs as root. Environment: FTPC_BENCH_RUNS (default 5), FTPC_BENCH_SIZE_MIB (default 1024),
# FTPC_BENCH_BIG_MIB (the large RSS probe, default 4096), FTPC_BUILD_DIR (default build).
# The machine may be shared: compare clients within one run, not across runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
source scripts/loopback-vsftpd.sh
source bench/bench-lib.sh

runs=${FTPC_BENCH_RUNS:-5}
size_mib=${FTPC_BENCH_SIZE_MIB:-1024}
big_mib=${FTPC_BENCH_BIG_MIB:-4096}
build_dir=${FTPC_BUILD_DIR:-build}
user=$FTPC_TEST_USER
password=ftppass
plain_port=29899

[ "$(id -u)" -eq 0 ] || { echo "transfer-bench.sh runs as root (vsftpd on port 21)" >&2; exit 1; }
ftpc_install_build_deps
ftpc_install_test_servers
ftpc_ensure_packages time curl lftp python3
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" --target ftp ftp-null-get >/dev/null
tool=$PWD/$build_dir/ftp
null_get=$PWD/$build_dir/ftp-null-get

work=$(mktemp -d /tmp/ftpc-bench.XXXXXX)
trap 'ftpc_vsftpd_stop; rm -rf "$work"' EXIT
ftpc_vsftpd_start "$work"
address=$ftpc_vsftpd_address
root=$ftpc_vsftpd_root
url="ftp://$user:$password@$address"

# Sparse source files: reading them costs no disk time, so the network path is what is measured.
make_file() { truncate -s "$2" "$1"; chown "$user:" "$1"; }
make_file "$root/big.bin" "${size_mib}M"
make_file "$root/one.bin" 1
make_file "$root/small.bin" 1M
head -c 1 /dev/zero > "$root/one.bin"
make_file "$work/upload.bin" "${size_mib}M"
# The first read of a sparse file fills the page cache with its holes: do it before any client
# runs, so the first client measured does not pay for it.
cat "$root/big.bin" "$work/upload.bin" > /dev/null

# One client command per scenario; $out is the local destination, removed before each run.
download_cmd() {  # client remote out
  case $1 in
  tool) echo "$tool g $2 $3 $address $user $password /" ;;
  curl) echo "curl -s -o $3 $url/$2" ;;
  lftp) echo "lftp -u $user,$password -e 'set ftp:passive-mode on; set xfer:clobber on; get $2 -o $3; quit' $address" ;;
  esac
}
upload_cmd() {  # client local remote
  case $1 in
  tool) echo "$tool p $2 $3 $address $user $password /" ;;
  curl) echo "curl -s -T $2 $url/$3" ;;
  lftp) echo "lftp -u $user,$password -e 'set ftp:passive-mode on; put $2 -o $3; quit' $address" ;;
  esac
}

# The plain limit: one TCP connection, 32 KiB reads and writes, file to file.
cat > "$work/plain.py" <<'PY'
import socket, sys
role, host, port, path = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
if role == "recv":
    srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((host, port)); srv.listen(1); print("ready", flush=True)
    conn, _ = srv.accept()
    with open(path, "wb") as out:
        while True:
            block = conn.recv(32768)
            if not block: break
            out.write(block)
else:
    conn = socket.create_connection((host, port))
    with open(path, "rb") as src:
        while True:
            block = src.read(32768)
            if not block: break
            conn.sendall(block)
    conn.close()
PY
plain_cmd() {  # out: the receiver is timed, the sender runs beside it
  echo "python3 $work/plain.py recv $address $plain_port $1"
}
start_plain_sender() {  # sets plain_sender
  ( for _ in $(seq 100); do
      python3 "$work/plain.py" send "$address" "$plain_port" "$root/big.bin" 2>/dev/null && exit 0
      sleep 0.05
    done ) &
  plain_sender=$!
}

results=$work/results   # lines: scenario client wall user sys rss_kib
: > "$results"
measure() {  # scenario client out command (out "-": nothing to remove)
  [ "$3" = - ] || rm -f "$3"
  local t=$work/time.txt start end
  # The wall time in nanoseconds (time's own has 10 ms steps, too coarse for the 1-byte run).
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S %M" -o "$t" bash -c "$4" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  # Removed at once, the file's dirty pages are dropped before the kernel starts writing them
  # back: no run pays for the disk writes of the runs before it.
  [ "$3" = - ] || rm -f "$3"
  echo "$1 $2 $(( (end - start) / 1000000000 )).$(printf %06d $(( (end - start) / 1000 % 1000000 ))) $(tail -1 "$t")" >> "$results"
}

for run in $(seq "$runs"); do
  echo "cold run $run of $runs" >&2
  clients=$(bench_rotate "$run" tool curl lftp)
  for client in $clients; do
    measure download-cold "$client" "$work/down.bin" "$(download_cmd "$client" big.bin "$work/down.bin")"
  done
  start_plain_sender
  measure download-cold plain "$work/down.bin" "$(plain_cmd "$work/down.bin")"
  wait "$plain_sender"   # not a bare wait: vsftpd is a background job too
  # The tool never writes into an existing file such as /dev/null: the library's own client
  # (row "lib") stands in for it there.
  for client in $(bench_rotate "$run" lib curl lftp); do
    if [ "$client" = lib ]; then
      measure download-null lib - "$null_get $address $user $password big.bin"
    else
      measure download-null "$client" - "$(download_cmd "$client" big.bin /dev/null)"
    fi
  done
  for client in $clients; do
    measure upload-cold "$client" "$root/up-$client.bin" "$(upload_cmd "$client" "$work/upload.bin" "up-$client.bin")"
  done
  for client in $clients; do
    measure one-byte "$client" "$work/one.out" "$(download_cmd "$client" one.bin "$work/one.out")"
  done
  measure rss-1MiB tool "$work/small.out" "$(download_cmd tool small.bin "$work/small.out")"
done
for client in tool curl lftp; do
  echo "warm runs: $client" >&2
  for _ in $(seq "$runs"); do
    measure download-warm "$client" "$work/down.bin" "$(download_cmd "$client" big.bin "$work/down.bin")"
  done
  for _ in $(seq "$runs"); do
    measure upload-warm "$client" "$root/up-$client.bin" "$(upload_cmd "$client" "$work/upload.bin" "up-$client.bin")"
  done
done
rm -f "$work/down.bin" "$root"/up-*.bin

# Peak RSS of the tool for a large file: does memory grow with the file?
if [ "$(df --output=avail -k "$work" | tail -1)" -gt $(( (big_mib + 512) * 1024 )) ]; then
  make_file "$root/huge.bin" "${big_mib}M"
  cat "$root/huge.bin" > /dev/null
  measure "rss-${big_mib}MiB" tool "$work/huge.out" "$(download_cmd tool huge.bin "$work/huge.out")"
  rm -f "$work/huge.out" "$root/huge.bin"
else
  echo "not enough disk space for the ${big_mib} MiB RSS probe" >&2
fi

bytes_of() {
  case $1 in
  download-* | upload-*) echo $(( size_mib * 1024 * 1024 )) ;;
  *) echo 0 ;;
  esac
}

# One line per scenario and client: scenario client median_wall min max MB/s cpu rss
summary=$work/summary
: > "$summary"
# shellcheck disable=SC2013  # scenario and client names are single words
for scenario in $(awk '{print $1}' "$results" | awk '!seen[$0]++'); do
  # shellcheck disable=SC2013
  for client in $(awk -v s="$scenario" '$1 == s {print $2}' "$results" | awk '!seen[$0]++'); do
    awk -v s="$scenario" -v c="$client" -v bytes="$(bytes_of "$scenario")" "$bench_awk_median"'
      $1 == s && $2 == c { n++; w[n] = $3; cpu[n] = $4 + $5; rss[n] = $6 / 1024
        if (n == 1 || $3 < lo) lo = $3; if (n == 1 || $3 > hi) hi = $3 }
      END {
        mw = median(w, n)
        rate = bytes > 0 && mw > 0 ? sprintf("%.0f", bytes / mw / 1e6) : "-"
        printf "%s %s %.3f %.3f %.3f %s %.2f %.1f\n", s, c, mw, lo, hi, rate, median(cpu, n), median(rss, n)
      }' "$results" >> "$summary"
  done
done

echo
echo "Loopback vsftpd at $address:21, ${size_mib} MiB files, $runs runs each (medians; spread = min..max wall)."
echo "cold: clients interleaved, each output deleted right after its run; warm: back to back."
echo "$(nproc) CPUs, load average before the table: $(cut -d' ' -f1-3 /proc/loadavg)."
echo "The machine may be shared and busy: compare the clients within this table."
echo
echo "| scenario | client | median wall s | min..max s | MB/s | CPU s | peak RSS MiB |"
echo "|---|---|---|---|---|---|---|"
awk '{ printf "| %s | %s | %.3f | %.3f..%.3f | %s | %.2f | %.1f |\n", $1, $2, $3, $4, $5, $6, $7, $8 }' "$summary"

# The tool's standing against the goals: rate >= 1.2x curl's and >= lftp's, slowest run
# <= 1.5x its fastest, CPU <= 0.8x curl's; the 1-byte run faster than curl's.
echo
echo "| tool against | cold download | cold upload | warm download | warm upload |"
echo "|---|---|---|---|---|"
awk '
  { v["wall", $1, $2] = $3; v["lo", $1, $2] = $4; v["hi", $1, $2] = $5; v["cpu", $1, $2] = $7
    wall[$1, $2] = $3 }
  function ratio(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "-" }
  # One row: for each of the four scenarios, value A of client AC over value B of client BC.
  function row(label, a, ac, b, bc,   text, i) {
    text = "| " label " |"
    for (i = 1; i <= 4; i++) text = text " " ratio(v[a, s[i], ac], v[b, s[i], bc]) " |"
    print text
  }
  END {
    split("download-cold upload-cold download-warm upload-warm", s, " ")
    row("rate / curl rate (goal >= 1.2)", "wall", "curl", "wall", "tool")
    row("rate / lftp rate (goal >= 1.0)", "wall", "lftp", "wall", "tool")
    row("slowest / fastest run (goal <= 1.5)", "hi", "tool", "lo", "tool")
    row("CPU / curl CPU (goal <= 0.8)", "cpu", "tool", "cpu", "curl")
    printf "\n1-byte file, whole run: tool %.1f ms, curl %.1f ms, lftp %.1f ms (tool / curl %s, goal < 1).\n",
      wall["one-byte", "tool"] * 1000, wall["one-byte", "curl"] * 1000, wall["one-byte", "lftp"] * 1000,
      ratio(wall["one-byte", "tool"], wall["one-byte", "curl"])
  }' "$summary"
