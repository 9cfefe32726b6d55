#!/usr/bin/env bash
# Installs the build into a temporary prefix, as a user's `cmake --install` does, and checks
# what the desktop meets: the suite's icon in the icon theme, the launcher naming it, its
# window class and one main category, and desktop-file-validate saying nothing.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install: $*" >&2; exit 1; }
icon=$prefix/share/icons/hicolor/scalable/apps/marubeta.svg
launcher=$prefix/share/applications/marubeta.desktop
[ -x "$prefix/bin/marubeta" ] || fail "bin/marubeta is not installed"
[ -s "$icon" ] || fail "the icon is not installed at $icon"
grep -q '<svg' "$icon" || fail "$icon is no SVG image"
[ -s "$launcher" ] || fail "the launcher is not installed at $launcher"
grep -qx 'Icon=marubeta' "$launcher" || fail "the launcher does not name the icon marubeta"
grep -qx 'Exec=marubeta' "$launcher" || fail "the launcher does not start marubeta"
# The window class of Marubeta's windows is its program name (see qt/widgets/program.cpp).
grep -qx 'StartupWMClass=marubeta' "$launcher" || fail "StartupWMClass is not marubeta"
report=$(desktop-file-validate "$launcher" 2>&1) || fail "desktop-file-validate failed: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
echo "install: icon, launcher and window class are in place"
