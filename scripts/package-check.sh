#!/usr/bin/env bash
# Builds the Debian packages from an existing build folder and checks them on this machine:
# lintian finds no error, the installed programs answer from /usr with no option, a C program
# builds against libubin-dev, Debian's python3 imports the module of python3-ubin, every file
# dpkg lists is there, and a purge leaves nothing of them. Needs root (apt-get install/purge).
#   bash scripts/package-check.sh [BUILD_DIR]      (build/ by default)
# A build folder with another prefix than /usr is first shown to be refused by cpack, then
# reconfigured with -DCMAKE_INSTALL_PREFIX=/usr; only what is out of date is built again.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
start=$SECONDS
step() { echo "-- package-check [$((SECONDS - start)) s] $*"; }
fail() { echo "package-check: $*" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || fail "$build is not a build folder (no CMakeCache.txt)"
[ "$(id -u)" = 0 ] || fail "installing the packages needs root"

if ! grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$build/CMakeCache.txt"; then
  step "cpack refuses $build, configured with another prefix than /usr"
  refused=$(mktemp -d)
  if message=$(cpack --config "$build/CPackConfig.cmake" -G DEB -B "$refused" 2>&1); then
    rm -rf "$refused"
    fail "cpack made packages from a build folder whose prefix is not /usr"
  fi
  rm -rf "$refused"
  grep -q -- '-DCMAKE_INSTALL_PREFIX=/usr' <<<"$message" || fail "cpack refused without saying how to configure: $message"
  step "reconfiguring $build with the prefix /usr"
  cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
step "building what is out of date in $build"
cmake --build "$build" -j2 | tail -n 1

# An install rule without a component would land in no package: nothing may install as
# "Unspecified".
unspecified=$(mktemp -d)
DESTDIR="$unspecified" cmake --install "$build" --component Unspecified >/dev/null
leaked=$(find "$unspecified" -type f)
rm -rf "$unspecified"
[ -z "$leaked" ] || fail "install rules without a component (they are in no package): $leaked"

out="$build/packages"
rm -rf "$out"
step "cpack -G DEB into $out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >/dev/null
mapfile -t debs < <(find "$out" -maxdepth 1 -name '*.deb' | sort)
[ "${#debs[@]}" -gt 0 ] || fail "cpack made no .deb"
packages=()
for deb in "${debs[@]}"; do
  packages+=("$(dpkg-deb --field "$deb" Package)")
  echo "   $(basename "$deb"): $(dpkg-deb --field "$deb" Depends)"
done

step "lintian ${debs[*]##*/}"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}"

# What is on disk before: only what the packages bring must be gone after the purge.
declare -A before=()
for deb in "${debs[@]}"; do
  while read -r path; do
    path=${path#.}; path=${path%/}
    if [ -n "$path" ] && [ -e "$path" ]; then before[$path]=1; fi
  done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t)
done

step "apt-get install ${debs[*]##*/}"
installed=0
cleanup() { if [ "$installed" = 1 ]; then apt-get purge -y -qq "${packages[@]}" >/dev/null || true; fi; }
trap cleanup EXIT
apt-get install -y -qq --no-install-recommends "${debs[@]}" >/dev/null
installed=1

# The installed programs alone: no settings of the user's, no build folder, in an empty folder.
empty=$(mktemp -d)
run() { (cd "$empty" && exec env -i PATH=/usr/bin:/bin HOME="$empty" QT_QPA_PLATFORM=offscreen "$@"); }
step "ubin find 7300014 from /usr/bin with no option"
answer=$(run ubin find 7300014)
echo "$answer" | head -n 3
grep -Eq '730-?0014' <<<"$answer" || fail "ubin find 7300014 did not answer 730-0014"
step "a C program built against libubin-dev, run on the installed sample"
cat >"$empty/postal.c" <<'C'
#include <stdio.h>
#include <ubin/ubin.h>
int main(void)
{
    ubin_directory* dir = NULL;
    ubin_results* found = NULL;
    const char* town = "";
    if (ubin_open("/usr/share/marubeta", 1, &dir) != UBIN_OK) return fprintf(stderr, "%s\n", ubin_last_error()), 1;
    if (ubin_postal(dir, "7300014", 0, 1, &found) != UBIN_OK) return fprintf(stderr, "%s\n", ubin_last_error()), 1;
    ubin_results_field(found, 0, UBIN_FIELD_TOWN, &town);
    printf("%s\n", town);
    ubin_results_free(found);
    ubin_close(dir);
    return 0;
}
C
cc -std=c11 -Wall -o "$empty/postal" "$empty/postal.c" -lubin
[ "$(run "$empty/postal")" = "上幟町" ] || fail "the C program did not find 上幟町 for 7300014"
if [[ " ${packages[*]} " == *" python3-ubin "* ]]; then
  step "Debian's python3 imports ubin from python3-ubin and answers from the installed sample"
  module=$(run /usr/bin/python3 -c 'import ubin; print(ubin.__file__)')
  [[ "$module" == /usr/lib/python3/dist-packages/ubin/* ]] || fail "python3 imported ubin from $module"
  answer=$(run /usr/bin/python3 -c 'import ubin; print(ubin.Directory("/usr/share/marubeta").postal("7300014")[0].town)')
  [ "$answer" = "上幟町" ] || fail "the module did not find 上幟町 for 7300014: $answer"
  run /usr/bin/python3 -m ubin find --dir /usr/share/marubeta ぎんざ | head -n 2
else
  step "no python3-ubin: the build folder's module is not for Debian's python3"
fi
step "ubin-serve --version, its page from /usr/share/ubin-serve, its systemd units"
run ubin-serve --version
log="$empty/serve.log"
# Started here, not through run: with exec, $! is the server itself and kill reaches it.
(cd "$empty" && exec env -i PATH=/usr/bin:/bin HOME="$empty" ubin-serve --listen 127.0.0.1:0 >/dev/null 2>"$log") &
serve=$!
for _ in $(seq 50); do grep -q 'listening on' "$log" && break; sleep 0.1; done
url=$(grep -o 'http://127.0.0.1:[0-9]*/' "$log" | head -n 1)
page=$(curl -sf "$url" || true)
kill "$serve"; wait "$serve" || true   # before any check can fail: no server is left behind
grep -q '<html' <<<"$page" || fail "ubin-serve served no page at ${url:-(no address)}: $(cat "$log")"
systemd-analyze verify /usr/lib/systemd/system/ubin-serve.service /usr/lib/systemd/system/ubin-serve.socket

mapfile -t listed < <(dpkg -L "${packages[@]}" | grep -v "^$" | sort -u)
step "man page of each program in /usr/bin"
for file in "${listed[@]}"; do
  [[ "$file" == /usr/bin/* ]] || continue
  page=$(man -w "$(basename "$file")") || fail "no man page for $(basename "$file")"
  echo "   $page"
  run "$file" --help >/dev/null || fail "$file --help failed"
done
rm -rf "$empty"

step "every path dpkg -L lists (${#listed[@]}) is on disk"
for path in "${listed[@]}"; do
  [ -e "$path" ] || fail "$path is listed by dpkg but missing"
done

step "apt-get purge ${packages[*]}"
apt-get purge -y -qq "${packages[@]}" >/dev/null
installed=0
left=()
for path in "${listed[@]}"; do
  if [ -e "$path" ] && [ -z "${before[$path]:-}" ]; then left+=("$path"); fi
done
[ "${#left[@]}" = 0 ] || fail "left on disk after the purge: ${left[*]}"
step "done: ${#debs[@]} package(s), ${#listed[@]} paths, lintian without errors, purge clean"
