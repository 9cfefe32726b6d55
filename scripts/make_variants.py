#!/usr/bin/env python3
"""Writes the variant kanji table the name search folds with (base/normalize.cpp).

Classes of characters that are one for the search: the kZVariant relation of Unicode's Unihan
data (Debian's unicode-data: the same character drawn another way), and the pairs of
base/variants_extra.txt (old Japanese forms the Unihan data does not relate to their common form).
The semantic relations are left out: they join characters that are two in Japanese place names
(予 余, 埼 崎, 周 週, 一 壹). Only characters that code page 932 can hold take part, so Chinese simplified forms
never join a class. Each character maps to its class's common form: the form the extra list
names, else the lowest code point. Usage: make_variants.py UNIHAN_VARIANTS(.bz2) EXTRA OUT
"""
import bz2
import sys


def cp932(c):
    try:
        c.encode("cp932")
        return True
    except UnicodeEncodeError:
        return False


def main(unihan, extra, out):
    parent = {}

    def find(c):
        while parent.setdefault(c, c) != c:
            parent[c] = parent[parent[c]]
            c = parent[c]
        return c

    def union(a, b):
        parent[find(a)] = find(b)

    opener = bz2.open if unihan.endswith(".bz2") else open
    with opener(unihan, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            code, field, values = line.rstrip("\n").split("\t", 2)
            if field != "kZVariant":
                continue
            a = chr(int(code[2:], 16))
            for v in values.split():
                b = chr(int(v.split("<")[0][2:], 16))
                if ord(a) <= 0xFFFF and ord(b) <= 0xFFFF and cp932(a) and cp932(b) and a != b:
                    union(a, b)
    common = set()
    with open(extra, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if not parts or parts[0].startswith("#"):
                continue
            old, new = parts[0], parts[1]
            if old != new:
                union(old, new)
            common.add(new)
    classes = {}
    for c in list(parent):
        classes.setdefault(find(c), []).append(c)
    pairs = []
    for members in classes.values():
        if len(members) < 2:
            continue
        named = sorted(m for m in members if m in common)
        to = named[0] if named else min(members)
        pairs += [(m, to) for m in members if m != to]
    pairs.sort()
    with open(out, "w", encoding="utf-8") as f:
        f.write("// Made by scripts/make_variants.py from the Unihan data; do not edit.\n")
        for a, b in pairs:
            f.write("{u'\\u%04X', u'\\u%04X'}, // %s %s\n" % (ord(a), ord(b), a, b))


if __name__ == "__main__":
    main(*sys.argv[1:4])
