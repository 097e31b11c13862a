#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarn.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release
if [[ -x build/release/src/app/tarn ]]; then
  exec build/release/src/app/tarn "$@"
fi
echo "Tarn's window is not built yet; the core library and its tests are."
if [[ -x build/release/src/cli/tarn-cli ]]; then
  echo "The command-line program tarn-cli is built: build/release/src/cli/tarn-cli --help"
  echo "(README.md, section tarn-cli; use --data-dir DIR or TARN_HOME to choose the data folder)"
fi
