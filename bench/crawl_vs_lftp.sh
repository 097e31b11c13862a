#!/usr/bin/env bash
# Crawl speed of Tarn's crawler against lftp's "find /" on the same servers in
# the same run: vsftpd and pyftpdlib on loopback, each serving
#   tree: 1,110 folders (10 x 10 x 10) with 20,000 files, and
#   big:  one folder of 50,000 files.
# Prints folders/s, entries/s and server commands per folder for both clients.
#
#   bash scripts/setup.sh --bench && bash scripts/build.sh bench
#   bash bench/crawl_vs_lftp.sh [path/to/tarn_bench_crawl]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/bench/bench/tarn_bench_crawl}"
server_py="$here/../tests/support/ftpserver.py"
for tool in /usr/sbin/vsftpd lftp /usr/bin/python3 "$bench"; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

# vsftpd must chroot the anonymous user into the tree (as root), or "/"
# would be the machine's own root.
if [[ $(id -u) -ne 0 ]]; then echo "run as root (vsftpd chroots the anonymous user)" >&2; exit 1; fi
work="$(mktemp -d /tmp/tarn-crawl-bench-XXXXXX)"
chmod 755 "$work"
server_pid=""
stop_server() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
trap 'stop_server; rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
for a in range(10):
    for b in range(10):
        for c in range(10):
            d = os.path.join(work, "tree", "d%d" % a, "d%d" % b, "d%d" % c)
            os.makedirs(d)
            for f in range(20):
                open(os.path.join(d, "file%02d.dat" % f), "w").close()
big = os.path.join(work, "big", "all")
os.makedirs(big)
for f in range(50000):
    open(os.path.join(big, "file%05d.dat" % f), "w").close()
PY
declare -A folders=([tree]=1111 [big]=2)
declare -A entries=([tree]=21110 [big]=50001)

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

start_vsftpd() { # root -> sets port, log, server_pid
  local root="$1"
  port="$(free_port)"
  log="$work/vsftpd.log"
  : >"$log"
  mkdir -p "$work/empty"
  cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$root
local_enable=NO
write_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=$work/empty
max_clients=0
max_per_ip=0
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
vsftpd_log_file=$log
CONF
  /usr/sbin/vsftpd "$work/vsftpd.conf" &
  server_pid=$!
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "vsftpd did not start" >&2; exit 1
}

start_pyftpdlib() { # root -> sets port, log, server_pid
  local root="$1"
  log="$work/pyftpdlib.log"
  : >"$log"
  coproc PYFTPD { exec /usr/bin/python3 "$server_py" "$root" --log "$log" --quiet; }
  server_pid=$PYFTPD_PID
  read -r port <&"${PYFTPD[0]}"
}

count_commands() { # server -> commands logged so far
  if [[ "$1" == vsftpd ]]; then grep -c 'FTP command:' "$log" || true
  else grep -c $'\tCMD\t' "$log" || true; fi
}

printf '%-10s %-5s %-7s %10s %12s %10s\n' server tree client folders/s entries/s cmds/folder
for server in vsftpd pyftpdlib; do
  for tree in tree big; do
    "start_$server" "$work/$tree"
    nf=${folders[$tree]}; ne=${entries[$tree]}

    # Tarn: three crawls of the whole site through the benchmark program.
    c0=$(count_commands "$server")
    TARN_BENCH_FTP="127.0.0.1:$port" "$bench" --benchmark_filter=BM_CrawlSite \
      --benchmark_format=json >"$work/ours.json" 2>/dev/null
    c1=$(count_commands "$server")
    /usr/bin/python3 - "$work/ours.json" "$nf" "$ne" "$server" "$tree" "$((c1 - c0))" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
b = [x for x in data["benchmarks"] if x["name"].startswith("BM_CrawlSite")][0]
if b.get("error_occurred"):
    print("tarn crawl failed:", b.get("error_message")); sys.exit(1)
nf, ne, cmds = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[6])
if int(b["folders"]) != nf: print("warning: crawled %d folders, expected %d" % (b["folders"], nf))
print("%-10s %-5s %-7s %10.0f %12.0f %10.2f" % (sys.argv[4], sys.argv[5], "tarn",
      b["folders/s"], b["entries/s"], cmds / (3.0 * nf)))
PY

    # lftp: one "find /" over the same server.
    c0=$(count_commands "$server")
    t0=$(date +%s.%N)
    found=$(lftp -e 'set cmd:fail-exit yes; find /; quit' "ftp://anonymous:x@127.0.0.1:$port" | wc -l)
    t1=$(date +%s.%N)
    c1=$(count_commands "$server")
    /usr/bin/python3 -c "
nf, ne, cmds, t = $nf, $found, $((c1 - c0)), $t1 - $t0
print('%-10s %-5s %-7s %10.0f %12.0f %10.2f' % ('$server', '$tree', 'lftp', nf / t, ne / t, cmds / nf))"
    stop_server
  done
done
