#!/usr/bin/env python3
"""The Python module over the full directory: the median time of find() and resolve() per call
beside the engine's own for the same queries (ubin_query_file_bench), and a pandas column of
written addresses resolved with resolve_many() and with df.apply(), in rows per second.

    PYTHONPATH=BUILD/python python3 bench/python_bench.py --cpp-bench BUILD/bench/python/ubin_query_file_bench \\
        [--dir FOLDER | --ubin-build BUILD/tools/ubin-build/ubin-build] [--ken-all ...] [--jigyosyo ...]

Without --dir it builds the directory from KEN_ALL.CSV and JIGYOSYO.CSV into a temporary folder.
The queries are made from KEN_ALL's rows: postal codes and their beginnings, town names,
readings in hiragana, and addresses with house numbers in the notations people write.
"""
import argparse
import csv
import json
import os
import random
import re
import shutil
import statistics
import subprocess
import tempfile
import time
import unicodedata

import ubin

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "..", "shared", "data")
KANJI_DIGITS = "〇一二三四五六七八九"


def rows(ken_all):
    """KEN_ALL's rows whose town is a name: no catch-all, no note, no row continued on the next."""
    with open(ken_all, encoding="cp932", newline="") as f:
        for r in csv.reader(f):
            town = r[8]
            if "（" in town or "）" in town or "以下に掲載がない場合" in town or town.endswith("一円"):
                continue
            yield r


def number(n, notation):
    digits = str(n)
    if notation == 1:
        return digits.translate(str.maketrans("0123456789", "０１２３４５６７８９"))
    if notation == 2:
        return "".join(KANJI_DIGITS[int(c)] for c in digits)
    return digits


def address(r, rnd):
    """A written address: maybe the prefecture, the city, the town and a house number."""
    notation = rnd.randrange(3)
    a, b, c = rnd.randint(1, 9), rnd.randint(1, 30), rnd.randint(1, 20)
    head = (r[6] if rnd.random() < 0.5 else "") + r[7] + r[8]
    if rnd.random() < 0.5:
        return f"{head}{number(a, notation)}丁目{number(b, notation)}番{number(c, notation)}号"
    return f"{head}{number(a, notation)}-{number(b, notation)}-{c}"


def hiragana(half_width_kana):
    full = unicodedata.normalize("NFKC", half_width_kana)
    return "".join(chr(ord(ch) - 0x60) if "ァ" <= ch <= "ヶ" else ch for ch in full)


def find_queries(sample, rnd):
    """What people type into one box: codes, names, readings and whole addresses, a quarter each."""
    out = []
    for r in sample:
        kind = rnd.randrange(4)
        if kind == 0:
            out.append(r[2] if rnd.random() < 0.7 else r[2][:3])
        elif kind == 1:
            out.append(r[8])
        elif kind == 2:
            out.append(hiragana(r[5]))
        else:
            out.append(address(r, rnd))
    return [q for q in out if q]


def median_us(call, queries):
    times = []
    for q in queries:
        t0 = time.perf_counter_ns()
        call(q)
        times.append(time.perf_counter_ns() - t0)
    return statistics.median(times) / 1000


def cpp_medians(bench, folder, finds, addresses):
    out = subprocess.run([bench, folder, finds, addresses, "--benchmark_format=json"], check=True,
                         capture_output=True, text=True).stdout
    return {b["name"].split("/")[0]: b["median_us"] for b in json.loads(out)["benchmarks"]}


def rate(call, rows_count, runs=3):
    """The best of a few runs: the first of all also reads the mapped files from the disk."""
    best = float("inf")
    for _ in range(runs):
        t0 = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - t0)
    return rows_count / best


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--dir", help="a directory folder built from the full data")
    p.add_argument("--ubin-build", default="ubin-build", help="the builder, when --dir is not given")
    p.add_argument("--ken-all", default=os.path.join(DATA, "KEN_ALL.CSV"))
    p.add_argument("--jigyosyo", default=os.path.join(DATA, "JIGYOSYO.CSV"))
    p.add_argument("--cpp-bench", help="ubin_query_file_bench, for the engine's figures")
    p.add_argument("--queries", type=int, default=2000)
    p.add_argument("--rows", type=int, default=100_000)
    a = p.parse_args()

    work = tempfile.mkdtemp(prefix="ubin-python-bench-")
    try:
        folder = a.dir
        if not folder:
            folder = os.path.join(work, "directory")
            subprocess.run([a.ubin_build, "--quiet", "--offices", a.jigyosyo, a.ken_all, folder], check=True)
        rnd = random.Random(20261208)
        every = list(rows(a.ken_all))
        finds = find_queries(rnd.sample(every, a.queries), rnd)
        addresses = [address(r, rnd) for r in rnd.choices(every, k=a.rows)]
        find_file, address_file = os.path.join(work, "finds.txt"), os.path.join(work, "addresses.txt")
        for name, lines in ((find_file, finds), (address_file, addresses[:a.queries])):
            with open(name, "w", encoding="utf-8") as f:
                f.write("".join(re.sub(r"[\r\n]", " ", q) + "\n" for q in lines))

        d = ubin.Directory(folder)
        # Each call's answer is read as a caller would: the results' postal codes.
        py_find = median_us(lambda q: [e.postal_code for e in d.find(q).results], finds)
        py_resolve = median_us(lambda q: d.resolve(q).postal_code, addresses[:a.queries])
        print(f"directory {folder} (edition {d.edition}); {len(finds)} find queries, {a.queries} addresses")
        print(f"{'per call, median':28} {'Python':>10} {'C++':>10} {'ratio':>7}")
        cpp = cpp_medians(a.cpp_bench, folder, find_file, address_file) if a.cpp_bench else {}
        for name, py, key in (("find(text, 100)", py_find, "BM_Find"), ("resolve(address)", py_resolve, "BM_Resolve")):
            c = cpp.get(key)
            print(f"{name:28} {py:8.1f}us " + (f"{c:8.1f}us {py / c:6.2f}x" if c else f"{'-':>10}"))

        import pandas as pd

        df = pd.DataFrame({"address": addresses})
        print(f"pandas column of {len(df):,} addresses, rows per second:")
        many = rate(lambda: df.assign(postal=[r.postal_code for r in d.resolve_many(df["address"])]), len(df))
        print(f"  resolve_many                 {many:10,.0f}")
        many2 = rate(lambda: df.assign(postal=[r.postal_code for r in d.resolve_many(df["address"], threads=0)]), len(df))
        print(f"  resolve_many(threads=0)      {many2:10,.0f}   ({os.cpu_count()} cores)")
        applied = rate(lambda: df.assign(postal=df["address"].apply(lambda s: d.resolve(s).postal_code)), len(df))
        print(f"  df.apply(resolve)            {applied:10,.0f}")
        print("load:", subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip())
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
