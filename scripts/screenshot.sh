#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window after updating sites from the
# local test FTP server (a tree with Chinese and English names), with a folder
# selected. Runs on Qt's offscreen platform with the CJK font: no display
# needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release
cmake --build --preset release --target tarn-screenshot >/dev/null

work=$(mktemp -d)
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

served="$work/served"
mkdir -p "$served/pub/linux/发行版" "$served/pub/文档/手册" "$served/软件/工具" "$served/incoming"
printf 'Welcome to the test archive.\n' > "$served/README"
printf '欢迎\n' > "$served/欢迎.txt"
head -c 734003 /dev/zero > "$served/pub/linux/kernel-6.1.tar.xz"
head -c 48213 /dev/zero > "$served/pub/linux/ChangeLog"
head -c 1536 /dev/zero > "$served/pub/linux/安装说明.txt"
head -c 3355443 /dev/zero > "$served/pub/linux/debian-12-netinst.iso"
head -c 912 /dev/zero > "$served/pub/linux/SHA256SUMS"
head -c 20480 /dev/zero > "$served/pub/文档/用户手册.pdf"
head -c 4096 /dev/zero > "$served/软件/工具/putty.zip"

# The server prints the port it got as its first line once it listens.
/usr/bin/python3 tests/support/ftpserver.py "$served" --quiet > "$work/port" &
server_pid=$!
port=""
for _ in $(seq 100); do
  port=$(head -n 1 "$work/port")
  [[ -n "$port" ]] && break
  sleep 0.1
done
[[ -n "$port" ]] || { echo "the test FTP server did not start" >&2; exit 1; }

mkdir -p "$work/data"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$PWD/build/release/tool-runtime" \
  build/release/src/app/tarn-screenshot --data-dir "$work/data" --served "$served" \
  --port "$port" --select "开源软件镜像/pub/linux" --out docs/screenshot.png
# The same window with a query typed into the search box, for a look.
if [[ -n "${TARN_SCREENSHOT_SEARCH:-}" ]]; then
  rm -rf "$work/data2" && mkdir -p "$work/data2"
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$PWD/build/release/tool-runtime" \
    build/release/src/app/tarn-screenshot --data-dir "$work/data2" --served "$served" \
    --port "$port" --select "开源软件镜像/pub/linux" --search "$TARN_SCREENSHOT_SEARCH" \
    --out "${TARN_SCREENSHOT_SEARCH_OUT:-/tmp/tarn-search.png}"
fi
echo "wrote docs/screenshot.png"
