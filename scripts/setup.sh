#!/usr/bin/env bash
# Installs every Debian package Tarn needs to build, test and run.
# Runs apt-get only when something is missing, so a second call is instant.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  libcurl4-openssl-dev libssl-dev openssl vsftpd
  libre2-dev libutf8proc-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-pyftpdlib python3-openssl
  qt6-base-dev qt6-svg-dev qt6-translations-l10n fonts-wqy-microhei
  xvfb xauth desktop-file-utils
)
# Optional extras: the benchmarks compare against these.
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(lftp plocate)
fi
if [[ "${1:-}" == "--fuzz" ]]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
