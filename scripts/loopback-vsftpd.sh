#!/usr/bin/env bash
# A throw-away vsftpd on port 21 of a free loopback address 127.0.0.N (the tool always talks to
# port 21), with a temporary root directory; sourced by demo.sh and the transfer benchmark.
# Needs root and the servers of install-deps.sh. FTPC_VSFTPD_EXTRA, when set, holds more
# configuration lines (e.g. the TLS settings). Usage:
#   ftpc_vsftpd_start WORKDIR   sets ftpc_vsftpd_address, ftpc_vsftpd_pid, ftpc_vsftpd_root
#   ftpc_vsftpd_stop            stops the server and every session process; safe to repeat

# shellcheck disable=SC2034  # read by the scripts that source this one
ftpc_vsftpd_pid=
ftpc_vsftpd_address=
ftpc_vsftpd_root=
ftpc_vsftpd_pasv_min=29900   # below the ephemeral port range, on an address of our own
ftpc_vsftpd_pasv_max=29999

# vsftpd's logged-in sessions call setsid() and outlive the listener: stop the whole tree.
ftpc_descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
    echo "$child"
    ftpc_descendants "$child"
  done
}

ftpc_alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $state != Z* ]]
}

ftpc_vsftpd_stop() {
  [ -n "$ftpc_vsftpd_pid" ] || return 0
  local pids
  pids="$ftpc_vsftpd_pid $(ftpc_descendants "$ftpc_vsftpd_pid")"
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null || true
  for _ in $(seq 50); do
    # shellcheck disable=SC2086
    ftpc_any_alive $pids || break
    sleep 0.1
  done
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null || true
  wait "$ftpc_vsftpd_pid" 2>/dev/null || true
  ftpc_vsftpd_pid=
}

ftpc_any_alive() {
  local pid
  for pid in "$@"; do
    ftpc_alive "$pid" && return 0
  done
  return 1
}

ftpc_vsftpd_write_config() {
  local work=$1 address=$2
  mkdir -p "$work/root" "$work/empty"
  chown "$FTPC_TEST_USER:" "$work/root"
  cat > "$work/vsftpd.conf" <<CONFIG
listen=YES
listen_address=$address
listen_port=21
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$work/root
chroot_local_user=YES
allow_writeable_chroot=YES
secure_chroot_dir=$work/empty
pam_service_name=ftpc-loopback
pasv_min_port=$ftpc_vsftpd_pasv_min
pasv_max_port=$ftpc_vsftpd_pasv_max
isolate_network=NO
vsftpd_log_file=$work/vsftpd.log
${FTPC_VSFTPD_EXTRA:-}
CONFIG
}

# True once the server at $1:21 greets with 220 (bounded: about 5 s).
ftpc_vsftpd_greets() {
  local line
  for _ in $(seq 50); do
    line=$( (exec 3<>"/dev/tcp/$1/21" && read -r -t 5 reply <&3 && echo "$reply") 2>/dev/null) || line=
    [[ $line == 220* ]] && return 0
    ftpc_alive "$ftpc_vsftpd_pid" || return 1
    sleep 0.1
  done
  return 1
}

# Whether something listens on port 21 of $1 or of every address.
ftpc_port_21_taken() {
  command -v ss >/dev/null || return 1
  ss -Hltn "sport = :21" | awk '{print $4}' | grep -qE "^(\*|0\.0\.0\.0|\[::\]|$1):21$"
}

ftpc_vsftpd_start() {
  local work=$1 n address
  local vsftpd=$FTPC_TEST_SERVERS_PREFIX/usr/sbin/vsftpd
  chmod 755 "$work"   # the session drops privileges and must traverse it
  for n in $(seq 2 254); do
    address=127.0.0.$n
    ftpc_port_21_taken "$address" && continue
    ftpc_vsftpd_write_config "$work" "$address"
    # vsftpd reports start-up errors on descriptor 0, hence the log there too.
    setsid "$vsftpd" "$work/vsftpd.conf" 0>>"$work/server.log" >>"$work/server.log" 2>&1 &
    ftpc_vsftpd_pid=$!
    if ftpc_vsftpd_greets "$address"; then
      # shellcheck disable=SC2034
      ftpc_vsftpd_address=$address
      # shellcheck disable=SC2034
      ftpc_vsftpd_root=$work/root
      return 0
    fi
    ftpc_vsftpd_stop
  done
  echo "no loopback address with port 21 free; server log:" >&2
  cat "$work/server.log" >&2 || true
  return 1
}
