#!/usr/bin/env bash
# Configures and builds one preset: scripts/build.sh [debug|release|asan|tsan|bench] [extra cmake args]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
shift || true
cmake --preset "$preset" "$@" >/dev/null
cmake --build --preset "$preset"
