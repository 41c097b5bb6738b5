#!/usr/bin/env bash
# Directory-tree benchmark: ftpc-cli get -r / put -r against lftp's mirror (and mirror -R),
# one session and --parallel N, through a throw-away vsftpd (LIST, MDTM) and proftpd (MLSD,
# MFMT) on loopback. The tree: FTPC_TREE_FILES files (default 1000) of FTPC_TREE_FILE_KIB KiB
# (default 4) spread over FTPC_TREE_DIRS directories (default 20). Clients run in rotated
# order, FTPC_BENCH_RUNS rounds (default 5); every copy is compared with its source (diff -r)
# and removed after its run. Prints a table ready to paste: median and min..max wall time,
# client CPU (user+sys), peak RSS. Runs as root. FTPC_TREE_PARALLEL sets N (default 4),
# FTPC_BUILD_DIR the build directory (default build).
# The machine may be shared: compare clients within one run, not across runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-deps.sh
source scripts/loopback-vsftpd.sh
source bench/bench-lib.sh

runs=${FTPC_BENCH_RUNS:-5}
files=${FTPC_TREE_FILES:-1000}
file_kib=${FTPC_TREE_FILE_KIB:-4}
dirs=${FTPC_TREE_DIRS:-20}
parallel=${FTPC_TREE_PARALLEL:-4}
build_dir=${FTPC_BUILD_DIR:-build}
user=$FTPC_TEST_USER
password=ftppass
proftpd_pasv_min=29800
proftpd_pasv_max=29899
# SHA-512 crypt of the password, for proftpd's own user file.
password_hash='$6$ftpctestsalt$.1zuGguIqVYePT/QoClWWkcO0dYCJHNce52VlMb6kELPmW5taleTzWp6sGkCVBlTVoGnlZxC4b2kdgwTC.wgY/'

[ "$(id -u)" -eq 0 ] || { echo "tree-bench.sh runs as root (servers on port 21)" >&2; exit 1; }
ftpc_install_build_deps
ftpc_install_test_servers
ftpc_ensure_packages time lftp
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" --target ftpc-cli >/dev/null
cli=$PWD/$build_dir/ftpc-cli

work=$(mktemp -d /tmp/ftpc-tree-bench.XXXXXX)
chmod 755 "$work"
proftpd_pid=
stop_all() {
  ftpc_vsftpd_stop
  if [ -n "$proftpd_pid" ]; then
    kill -TERM "$proftpd_pid" 2>/dev/null || true
    wait "$proftpd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_all EXIT

# ---- Servers ---------------------------------------------------------------------------------
mkdir -p "$work/vsftpd"
ftpc_vsftpd_start "$work/vsftpd"
vsftpd_address=$ftpc_vsftpd_address
vsftpd_root=$ftpc_vsftpd_root

proftpd_start() {  # sets proftpd_address, proftpd_root
  local dir=$work/proftpd n uid gid
  mkdir -p "$dir/root"
  chown "$user:" "$dir/root"
  uid=$(id -u "$user")
  gid=$(id -g "$user")
  echo "$user:$password_hash:$uid:$gid::$dir/root:/bin/false" > "$dir/passwd"
  echo "$user:x:$gid:" > "$dir/group"
  chmod 600 "$dir/passwd" "$dir/group"
  for n in $(seq 2 254); do
    proftpd_address=127.0.0.$n
    [ "$proftpd_address" = "$vsftpd_address" ] && continue
    ftpc_port_21_taken "$proftpd_address" && continue
    cat > "$dir/proftpd.conf" <<CONFIG
ServerType standalone
DefaultServer on
ServerName "proftpd-bench"
Port 21
DefaultAddress $proftpd_address
SocketBindTight on
User nobody
Group nogroup
PidFile $dir/proftpd.pid
ScoreboardFile $dir/proftpd.scoreboard
ControlsEngine off
WtmpLog off
DelayEngine off
UseReverseDNS off
AuthOrder mod_auth_file.c
AuthUserFile $dir/passwd
AuthGroupFile $dir/group
RequireValidShell off
DefaultRoot ~
PassivePorts $proftpd_pasv_min $proftpd_pasv_max
AllowOverwrite on
CONFIG
    setsid /usr/sbin/proftpd -n -c "$dir/proftpd.conf" >>"$dir/server.log" 2>&1 &
    proftpd_pid=$!
    if ftpc_vsftpd_greets "$proftpd_address"; then
      proftpd_root=$dir/root
      return 0
    fi
    kill -TERM "$proftpd_pid" 2>/dev/null || true
    wait "$proftpd_pid" 2>/dev/null || true
    proftpd_pid=
  done
  echo "proftpd did not start; its log:" >&2
  cat "$dir/server.log" >&2 || true
  return 1
}
proftpd_start

# ---- The tree --------------------------------------------------------------------------------
make_tree() {  # dir
  local d f
  for d in $(seq 1 "$dirs"); do mkdir -p "$1/dir$d"; done
  for f in $(seq 1 "$files"); do
    head -c $((file_kib * 1024)) /dev/urandom > "$1/dir$(( (f - 1) % dirs + 1 ))/file$f"
  done
}
make_tree "$work/source"
for root in "$vsftpd_root" "$proftpd_root"; do
  cp -a "$work/source" "$root/tree"
  chown -R "$user:" "$root/tree"
done

get_cmd() {  # client address out
  local url="ftp://$user:$password@$2/tree/"
  case $1 in
  ftpc) echo "$cli get -r $url $3" ;;
  ftpcN) echo "$cli --parallel $parallel get -r $url $3" ;;
  lftp) echo "lftp -u $user,$password -e 'set ftp:passive-mode on; mirror tree $3; quit' $2" ;;
  lftpN) echo "lftp -u $user,$password -e 'set ftp:passive-mode on; mirror --parallel=$parallel tree $3; quit' $2" ;;
  esac
}
put_cmd() {  # client address remote-name
  local url="ftp://$user:$password@$2/$3/"
  case $1 in
  ftpc) echo "$cli put -r $work/source $url" ;;
  ftpcN) echo "$cli --parallel $parallel put -r $work/source $url" ;;
  lftp) echo "lftp -u $user,$password -e 'set ftp:passive-mode on; mirror -R $work/source $3; quit' $2" ;;
  lftpN) echo "lftp -u $user,$password -e 'set ftp:passive-mode on; mirror -R --parallel=$parallel $work/source $3; quit' $2" ;;
  esac
}

results=$work/results   # lines: scenario client wall user sys rss_kib same
failures=$work/failures # what the client said in runs that were not byte-exact
: > "$results"
: > "$failures"
measure() {  # scenario client command copy source
  local t=$work/time.txt same=yes
  rm -rf "$4"
  /usr/bin/time -f "%e %U %S %M" -o "$t" bash -c "$3" >/dev/null 2>"$work/stderr.txt" || same=no
  diff -r "$5" "$4" >/dev/null 2>&1 || same=no
  rm -rf "$4"
  echo "$1 $2 $(tail -1 "$t") $same" >> "$results"
  if [ "$same" = no ]; then
    { echo "$1 $2:"; grep -v '^Command exited' "$work/stderr.txt" | head -5; } >> "$failures"
  fi
}

for run in $(seq "$runs"); do
  echo "run $run of $runs" >&2
  for server in vsftpd proftpd; do
    address=${server}_address
    root=${server}_root
    for client in $(bench_rotate "$run" ftpc lftp ftpcN lftpN); do
      measure "get-$server" "$client" "$(get_cmd "$client" "${!address}" "$work/copy")" \
        "$work/copy" "$work/source"
      measure "put-$server" "$client" "$(put_cmd "$client" "${!address}" "up-$client")" \
        "${!root}/up-$client" "$work/source"
    done
  done
done

client_name() {
  case $1 in
  ftpc) echo "ftpc-cli" ;;
  ftpcN) echo "ftpc-cli --parallel $parallel" ;;
  lftp) echo "lftp mirror" ;;
  lftpN) echo "lftp mirror --parallel=$parallel" ;;
  esac
}

echo
echo "Tree of $files files of $file_kib KiB in $dirs directories, loopback servers, $runs runs each."
echo "The machine may be shared and busy: compare the clients within this table."
echo
echo "| scenario | client | median wall s | min..max s | CPU s | peak RSS MiB | byte-exact |"
echo "|---|---|---|---|---|---|---|"
# shellcheck disable=SC2013  # scenario and client names are single words
for scenario in $(awk '{print $1}' "$results" | awk '!seen[$0]++'); do
  for client in ftpc lftp ftpcN lftpN; do
    awk -v s="$scenario" -v c="$client" -v name="$(client_name "$client")" "$bench_awk_median"'
      $1 == s && $2 == c { n++; w[n] = $3; cpu[n] = $4 + $5; rss[n] = $6 / 1024; if ($7 != "yes") bad++
        if (n == 1 || $3 < lo) lo = $3; if (n == 1 || $3 > hi) hi = $3 }
      END {
        if (n == 0) exit
        printf "| %s | %s | %.3f | %.3f..%.3f | %.2f | %.1f | %s |\n", s, name, median(w, n), lo, hi,
          median(cpu, n), median(rss, n), bad ? "NO (" bad " of " n ")" : "yes"
      }' "$results"
  done
done
if [ -s "$failures" ]; then
  echo
  echo "Runs that were not byte-exact (the client's first words on stderr):"
  cat "$failures"
fi
