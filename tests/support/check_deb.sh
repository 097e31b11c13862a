#!/usr/bin/env bash
# Builds the Debian package of a configured and built tree with CPack and
# checks what it holds: the programs, the menu entry, the icons, the guide,
# and dependencies read off the programs. Nothing is installed.
#   check_deb.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
out="$build/package-check"
rm -rf "$out"
mkdir -p "$out"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; exit 1; }
arch=$(dpkg --print-architecture)
deb="$out/tarn_${version}_${arch}.deb"
[[ -f "$deb" ]] || { echo "no $deb:"; ls "$out"; exit 1; }

fail=0
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/tarn ./usr/bin/tarn-cli ./usr/share/applications/tarn.desktop \
  ./usr/share/icons/hicolor/scalable/apps/tarn.svg \
  ./usr/share/icons/hicolor/48x48/apps/tarn.png ./usr/share/tarn/help.pdf; do
  grep -qxF "$path" <<<"$contents" || { echo "missing: $path"; fail=1; }
done
# Nothing of the build's own (tests, tools) and nothing outside /usr.
if grep -v '^\./usr/' <<<"$contents" | grep -qv '^\./$'; then
  echo "outside /usr:"; grep -v '^\./usr/' <<<"$contents"; fail=1
fi
if grep -Eq 'tests|screenshot|helppdf|svgpng' <<<"$contents"; then
  echo "build-only files packed:"; grep -E 'tests|screenshot|helppdf|svgpng' <<<"$contents"; fail=1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libcurl4 libc6 qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || { echo "Depends lacks $lib: $depends"; fail=1; }
done
exit "$fail"
