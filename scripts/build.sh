#!/usr/bin/env bash
# Configures and builds one preset:
#   scripts/build.sh [debug|release|asan|tsan|bench] [extra cmake args] [-- targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
shift || true
args=()
targets=()
while (($#)); do
  if [[ "$1" == "--" ]]; then shift; targets=("$@"); break; fi
  args+=("$1"); shift
done
# Paths below the checkout hash alike in every checkout, so worktrees share
# ccache's entries.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
export CCACHE_NOHASHDIR=1
cmake --preset "$preset" "${args[@]}" >/dev/null
if ((${#targets[@]})); then
  cmake --build --preset "$preset" --target "${targets[@]}"
else
  cmake --build --preset "$preset"
fi
