#!/usr/bin/env bash
# Listing a whole site over the control connection (STAT, pipelined) against
# the normal way (a data connection per folder) and lftp's "find /", on vsftpd
# in the same run:
#   loopback: the 1,111-folder tree (10 x 10 x 10 below the root, 20,000 files);
#   delayed:  a 200-folder tree behind bench/delayproxy.py, a 20 ms round
#             trip (10 ms each way, a round trip per new connection);
#   wide:     one folder of 100,000 empty sub-folders (TARN_BENCH_WIDE) on
#             loopback, over STAT: the per-folder work must stay flat.
# Prints seconds, folders/s and, behind the proxy, round trips, commands and
# control-connection bytes per folder (both of Tarn's connections counted),
# the data connections and their bytes per folder, and whether auto chose STAT.
#
#   bash scripts/setup.sh --bench && bash scripts/build.sh bench
#   bash bench/listing_vs_lftp.sh [path/to/tarn_bench_crawl]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/bench/bench/tarn_bench_crawl}"
proxy_py="$here/delayproxy.py"
rtt_ms="${TARN_BENCH_RTT_MS:-20}"
for tool in /usr/sbin/vsftpd lftp /usr/bin/python3 "$bench"; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [[ $(id -u) -ne 0 ]]; then echo "run as root (vsftpd chroots the anonymous user)" >&2; exit 1; fi

work="$(mktemp -d /tmp/tarn-listing-bench-XXXXXX)"
chmod 755 "$work"
server_pid=""
proxy_pid=""
stop_pid() { # pid variable name
  local pid="${!1}"
  if [[ -n "$pid" ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  printf -v "$1" '%s' ""
}
trap 'stop_pid proxy_pid; stop_pid server_pid; rm -rf "$work"' EXIT

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
# 200 folders: the root, t0..t8 with 21 sub-folders of 10 files each, t9 empty.
for t in range(9):
    for s in range(21):
        d = os.path.join(work, "small", "t%d" % t, "s%02d" % s)
        os.makedirs(d)
        for f in range(10):
            open(os.path.join(d, "f%d.dat" % f), "w").close()
os.makedirs(os.path.join(work, "small", "t9"))
wide = int(os.environ.get("TARN_BENCH_WIDE", "100000"))
for i in range(wide):
    os.makedirs(os.path.join(work, "wide", "w", "%06d" % i))
PY
wide_count="${TARN_BENCH_WIDE:-100000}"
declare -A folders=([tree]=1111 [small]=200 [wide]=$((wide_count + 2)))

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

start_vsftpd() { # root -> sets port
  port="$(free_port)"
  mkdir -p "$work/empty"
  cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$1
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
CONF
  /usr/sbin/vsftpd "$work/vsftpd.conf" &
  server_pid=$!
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "vsftpd did not start" >&2; exit 1
}

start_proxy() { # -> sets proxy_port, stats
  stats="$work/proxy.json"
  rm -f "$stats"
  coproc PROXY { exec /usr/bin/python3 "$proxy_py" 127.0.0.1 "$port" --rtt-ms "$rtt_ms" --stats "$stats"; }
  proxy_pid=$PROXY_PID
  read -r proxy_port <&"${PROXY[0]}"
}

# One row: tree, client, seconds, folders, chose-stat (or -), proxy stats file (or -).
row() {
  /usr/bin/python3 - "$@" "$rtt_ms" <<'PY'
import json, sys
tree, client, seconds, nf, chose, stats, rtt = sys.argv[1:8]
seconds, nf, rtt = float(seconds), int(nf), float(rtt) / 1000.0
cols = ["%-6s" % tree, "%-11s" % client, "%8.3f" % seconds, "%10.0f" % (nf / seconds)]
if stats != "-":
    s = json.load(open(stats))
    cols += ["%7.2f" % (seconds / rtt / nf), "%8.2f" % (s["commands"] / nf),
             "%9.0f" % ((s["control_bytes_up"] + s["control_bytes_down"]) / nf),
             "%5d" % s["data_connections"], "%9.0f" % (s["data_bytes"] / nf)]
else:
    cols += ["%7s" % "-", "%8s" % "-", "%9s" % "-", "%5s" % "-", "%9s" % "-"]
cols.append(chose)
print(" ".join(cols))
PY
}

tarn() { # mode iterations host-port -> seconds per crawl and whether STAT was chosen
  TARN_BENCH_FTP="127.0.0.1:$3" TARN_BENCH_LISTING="$1" TARN_BENCH_ITERATIONS="$2" \
    "$bench" --benchmark_filter=BM_CrawlSite --benchmark_format=json >"$work/ours.json" 2>/dev/null
  /usr/bin/python3 - "$work/ours.json" <<'PY'
import json, sys
b = [x for x in json.load(open(sys.argv[1]))["benchmarks"] if x["name"].startswith("BM_CrawlSite")][0]
if b.get("error_occurred"):
    sys.exit("tarn crawl failed: %s" % b.get("error_message"))
print("%.4f %s %d" % (b["real_time"] / 1000.0, "stat" if b["stat"] else "list", b["folders"]))
PY
}

lftp_find() { # host-port -> seconds
  local t0 t1
  t0=$(date +%s.%N)
  lftp -e 'set cmd:fail-exit yes; find /; quit' "ftp://anonymous:x@127.0.0.1:$1" >"$work/found.txt"
  t1=$(date +%s.%N)
  python3 -c "print('%.4f' % ($t1 - $t0))"
}

echo "tree   client       seconds  folders/s RT/fold cmd/fold ctlB/fold dataC dataB/fold chose"
echo "-- loopback vsftpd"
start_vsftpd "$work/tree"
nf=${folders[tree]}
for mode in auto list; do
  read -r secs chose got < <(tarn "$mode" 3 "$port")
  [[ "$got" == "$nf" ]] || echo "warning: tarn $mode crawled $got folders, expected $nf"
  row tree "tarn $mode" "$secs" "$nf" "$chose" -
done
row tree "lftp find" "$(lftp_find "$port")" "$nf" - -
stop_pid server_pid

echo "-- vsftpd behind a ${rtt_ms} ms round trip"
start_vsftpd "$work/small"
nf=${folders[small]}
for mode in auto list; do
  start_proxy
  read -r secs chose got < <(tarn "$mode" 1 "$proxy_port")
  stop_pid proxy_pid
  [[ "$got" == "$nf" ]] || echo "warning: tarn $mode crawled $got folders, expected $nf"
  row small "tarn $mode" "$secs" "$nf" "$chose" "$stats"
done
start_proxy
secs="$(lftp_find "$proxy_port")"
stop_pid proxy_pid
row small "lftp find" "$secs" "$nf" - "$stats"
stop_pid server_pid

echo "-- one folder of $wide_count sub-folders, loopback vsftpd"
start_vsftpd "$work/wide"
nf=${folders[wide]}
read -r secs chose got < <(tarn stat 1 "$port")
[[ "$got" == "$nf" ]] || echo "warning: tarn stat crawled $got folders, expected $nf"
row wide "tarn stat" "$secs" "$nf" "$chose" -
stop_pid server_pid
