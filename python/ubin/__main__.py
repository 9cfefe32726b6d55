"""python3 -m ubin find QUERY...: the find of the `ubin` command, from Python."""
import argparse
import json
import os
import shutil
import sys

from . import Directory, Error, SettingsError
from ._ubin import _settings_folder

DIRECTORY_RULE = (
    "The directory folder is --dir, else $UBIN_DIRECTORY, else the one named by the ubscon.def "
    "that `ubin` reads without --data (~/.config/marubeta/, the current folder, then "
    "<prefix>/share/marubeta/ beside the installed ubin)."
)


def default_folder():
    folder = os.environ.get("UBIN_DIRECTORY")
    if folder:
        return folder
    # ubin looks beside its own executable for <prefix>/share/marubeta/.
    tool = shutil.which("ubin")
    return _settings_folder(os.path.dirname(tool) if tool else os.path.join(sys.prefix, "bin"))


def display_width(text):
    """Columns on a terminal, counted as ubin counts them: East Asian characters take two."""
    width = 0
    for ch in text:
        c = ord(ch)
        width += 1 if c < 0x1100 or 0xFF61 <= c <= 0xFF9F or c > 0xFFFF else 2
    return width


def reading(e):
    if not e.is_office:
        return e.prefecture_kana + e.city_kana + e.town_kana
    return e.office + " " + e.office_kana if e.office_kana else e.office


def print_lines(r, out):
    """The plain layout of `ubin find`."""
    addresses = [e.address for e in r.results]
    width = max((display_width(a) for a in addresses), default=0)
    for e, a in zip(r.results, addresses):
        code = e.postal_code
        out.write(f"〒{code[:3]}-{code[3:]}  {a}{' ' * (width - display_width(a))}  {reading(e)}\n")
    shown = len(r.results)
    out.write(f"{r.total} 件")
    if shown < r.total:
        out.write(f"（先頭の {shown} 件を表示。すべて表示するには --limit 0、件数を変えるには --limit N）")
    out.write("\n")
    levels = ("none", "prefecture", "city")
    if r.match == "address" and r.level in levels and r.results:
        first = r.results[0]
        rest = f"（使われなかった部分: {r.rest}）" if r.rest else ""
        out.write(f"町域が見つからないため、{first.prefecture}{first.city} まで一致した結果です{rest}\n")
    if r.total:
        return
    if r.suggestions:
        out.write("もしかして: " + "、".join(r.suggestions) + "\n")
    elif r.hint:
        out.write(r.hint + "\n")


def find(args):
    parser = argparse.ArgumentParser(
        prog="python3 -m ubin find",
        description="Finds any address: a postal code or its beginning, a reading in any kana, any part "
        "of an address or an office's name, or a whole address with a house number. " + DIRECTORY_RULE)
    parser.add_argument("query", nargs="+", help="what to find; several words are joined with a blank")
    parser.add_argument("--dir", help="use this directory folder")
    parser.add_argument("--json", action="store_true", help="print one JSON object, as ubin find --json")
    parser.add_argument("--limit", type=int, default=100, help="print at most N results (default 100; 0 prints all)")
    a = parser.parse_args(args)
    if a.limit < 0:
        parser.error("--limit takes a count of results")
    try:
        d = Directory(a.dir or default_folder())
        r = d.find(" ".join(a.query), a.limit)
    except SettingsError as e:
        # The settings' own message names ubin's options; this command takes the folder so.
        print(f"python3 -m ubin find: {e}\n--dir DIR か環境変数 UBIN_DIRECTORY でフォルダを指定できます", file=sys.stderr)
        return 2
    except Error as e:
        print(f"python3 -m ubin find: {e}", file=sys.stderr)
        return 2
    if a.json:
        sys.stdout.write(r.to_json() + "\n")
    else:
        print_lines(r, sys.stdout)
    return 0 if r.total else 1


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] in ("-h", "--help"):
        print("usage: python3 -m ubin find [--dir DIR] [--json] [--limit N] QUERY...\n\n" + DIRECTORY_RULE)
        return 0 if argv else 2
    if argv[0] != "find":
        print(f"python3 -m ubin: unknown command {argv[0]}; see python3 -m ubin --help", file=sys.stderr)
        return 2
    return find(argv[1:])


if __name__ == "__main__":
    sys.exit(main())
