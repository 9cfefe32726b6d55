#!/usr/bin/env bash
# The Windows programs against the native ones: ubin-build.exe and ubin-build build the sample
# directory from data/ken_all_sample.csv and data/jigyosyo_sample.csv, and ubin.exe and ubin
# run the same lookups on it.
#   bash scripts/wine-compare.sh NATIVE_BUILD UBIN_BUILD_EXE UBIN_EXE [WINE]
# Every directory file must be byte for byte the same; ubscon.def too, apart from DataFolder,
# which names each folder as its platform does ("Z:\...\windows\" under Wine). The lookups'
# output must be the same bytes: the programs write their output unchanged on Windows too (lines
# end in LF, CSV rows in CR LF, as on Linux), so no line end is translated here.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
abs() { case "$1" in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
native="$(abs "$1")" win_build="$(abs "$2")" win_ubin="$(abs "$3")" wine="${4:-wine}"
native_build="$native/tools/ubin-build/ubin-build"
native_ubin="$native/tools/ubin/ubin"
csv="$root/data/ken_all_sample.csv"
offices="$root/data/jigyosyo_sample.csv"
for f in "$native_build" "$native_ubin" "$win_build" "$win_ubin"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "wine-compare: no $f" >&2; exit 1; }
done
export WINEDEBUG="${WINEDEBUG:--all}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0 passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
winpath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# Both build the sample directory with its offices; the Windows program is given Windows paths.
"$native_build" "$csv" "$work/native" --offices "$offices" --settings --quiet
"$wine" "$win_build" "$(winpath "$csv")" "$(winpath "$work")\\windows" --offices "$(winpath "$offices")" \
  --settings --quiet </dev/null
if [ "$(ls "$work/native")" = "$(ls "$work/windows")" ]; then pass; else
  fail "the builds wrote different files: $(ls "$work/native" | tr '\n' ' ')against $(ls "$work/windows" | tr '\n' ' ')"
fi
for f in "$work/native"/*; do
  f="$(basename "$f")"
  [ "$f" = ubscon.def ] && continue
  if [ "$f" = MANIFEST.TXT ]; then
    # Each build has a number of its own (under the manifest's own checksum); every file's size and
    # checksum must agree.
    if diff -q <(grep -v -e '^build ' -e '^xxh3 ' "$work/native/$f") <(grep -v -e '^build ' -e '^xxh3 ' "$work/windows/$f") >/dev/null; then pass
    else fail "$f lists other sizes or checksums in the native and the Windows build"; fi
    continue
  fi
  if cmp -s "$work/native/$f" "$work/windows/$f"; then pass; else fail "$f differs between the native and the Windows build"; fi
done
win_folder="$(winpath "$work/windows")\\"
case "$win_folder" in
  [A-Z]:\\*\\) pass ;;
  *) fail "the Windows DataFolder is not a drive path ending in a backslash: $win_folder" ;;
esac
# ubscon.def: value 3 is each one's folder, the rest (and the CR LF) the same.
if [ "$(cut -d, -f3 "$work/windows/ubscon.def")" = "\"$win_folder\"" ] \
   && [ "$(cut -d, -f3 "$work/native/ubscon.def")" = "\"$work/native/\"" ] \
   && [ "$(cut -d, -f1,2,4- "$work/windows/ubscon.def")" = "$(cut -d, -f1,2,4- "$work/native/ubscon.def")" ]; then
  pass
else
  fail "ubscon.def: $(cat -v "$work/windows/ubscon.def") against $(cat -v "$work/native/ubscon.def")"
fi

# compare NAME ARG...: an argument @DATA@ stands for each program's own directory folder.
compare() {
  local name="$1"; shift
  local n_args=() w_args=() a n_status=0 w_status=0
  for a in "$@"; do
    if [ "$a" = @DATA@ ]; then n_args+=("$work/native/"); w_args+=("$win_folder"); else n_args+=("$a"); w_args+=("$a"); fi
  done
  (cd "$work/native" && XDG_CONFIG_HOME="$work/no-config" "$native_ubin" "${n_args[@]}") >"$work/n.out" 2>/dev/null || n_status=$?
  (cd "$work/windows" && "$wine" "$win_ubin" "${w_args[@]}") </dev/null >"$work/w.out" 2>/dev/null || w_status=$?
  if [ "$n_status" != "$w_status" ]; then fail "$name: exit status $w_status on Windows, $n_status natively"; return; fi
  if cmp -s "$work/n.out" "$work/w.out"; then pass; else
    fail "$name: the outputs differ"
    diff "$work/n.out" "$work/w.out" | cat -A | head -20
  fi
}

compare "postal 7300014"           --data @DATA@ postal 7300014
# The same lookup with the settings found in the current folder (ubscon.def of each build).
compare "settings, postal 7300014" postal 7300014
compare "json postal 7300014"      --json postal 7300014
compare "postal 730 paging"        postal 730 next next prev
compare "kana"                     --json kana ｷﾞﾝｻﾞ next
compare "kanji"                    kanji 上幟
compare "area and clip"            --clip-flags 1,2,3,4,5,6 area 広島県 広島市中区 上幟町 clip
compare "city"                     city 34101 next
compare "not found and link"       postal 9999999 link 7300014
compare "bad step"                 postal 730 nonsense
compare "find a postal code"       find --data @DATA@ 730-0014
compare "find a reading"           find --json ぎんざ
compare "find part of an address"  find --csv 中区上幟
compare "find an office"           find 宮内庁
compare "find with a house number" find --json 千代田区永田町９９
compare "find, limited"            find --limit 3 730

echo "wine-compare: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
