#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarn (arguments go to tarn,
# e.g. --data-dir DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No display to open Tarn's window on: use build/release/src/cli/tarn-cli (see --help), or start the window on a virtual display: xvfb-run -a bash scripts/run.sh"
  exit 1
fi
exec build/release/src/app/tarn "$@"
