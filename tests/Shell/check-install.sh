#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that the program, the launcher entry and the icons are there,
# and that the installed entry is valid.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/vellora share/applications/app.vellora.Vellora.desktop \
    share/icons/hicolor/scalable/apps/app.vellora.Vellora.svg \
    share/icons/hicolor/48x48/apps/app.vellora.Vellora.png \
    share/icons/hicolor/256x256/apps/app.vellora.Vellora.png; do
    [ -f "$prefix/$file" ] || { echo "missing after install: $file"; exit 1; }
done
[ -x "$prefix/bin/vellora" ] || { echo "bin/vellora is not executable"; exit 1; }
desktop-file-validate "$prefix/share/applications/app.vellora.Vellora.desktop"
"$prefix/bin/vellora" --help | grep -q "Usage: vellora"
echo "installed and valid"
