#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and a script find there:
# both programs, a valid desktop entry, the icon, the metainfo and a man page that carries the
# help of every command.   usage: check_install.sh BUILD_DIR
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
id=org.avirivetta.Rivetta
desktop="$prefix/share/applications/$id.desktop"
man="$prefix/share/man/man1/rivetta-cli.1"
for f in bin/rivetta bin/rivetta-cli share/applications/$id.desktop \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
  share/icons/hicolor/256x256/apps/$id.png share/metainfo/$id.metainfo.xml \
  share/man/man1/rivetta-cli.1; do
  [ -s "$prefix/$f" ] || fail "$f not installed"
done
[ -x "$prefix/bin/rivetta-cli" ] || fail "rivetta-cli not executable"
"$prefix/bin/rivetta-cli" --help >/dev/null || fail "installed rivetta-cli does not run"

for line in 'Exec=rivetta %f' 'MimeType=video/x-msvideo;video/avi;video/msvideo;' \
  'Categories=AudioVideo;Video;' "Icon=$id"; do
  grep -qxF "$line" "$desktop" || fail "desktop entry lacks $line"
done
grep -q '^Name\[ru\]=' "$desktop" && grep -q '^Comment\[ru\]=' "$desktop" ||
  fail "desktop entry without Russian name and comment"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate"
fi

# The man page holds every command the help lists, each with its own usage line.
for cmd in $("$prefix/bin/rivetta-cli" --help | sed -n '/^commands:/,/^$/s/^  \([a-z-]*\).*/\1/p'); do
  grep -qx ".SS $cmd" "$man" || fail "man page without $cmd"
  usage="$("$prefix/bin/rivetta-cli" "$cmd" --help | head -1 | sed 's/-/\\-/g')"
  grep -qxF "$usage" "$man" || fail "man page usage of $cmd differs from its help"
done
echo "installed and checked in $prefix"
