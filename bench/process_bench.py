#!/usr/bin/env python3
"""`ubin find` as a whole process beside `sqlite3` answering the same kind of question over a
database of the same KEN_ALL rows: the wall time of each run and its peak memory (the maximum
resident set the system reports for the process, the pages of files it mapped included, from /usr/bin/time).

    python3 bench/process_bench.py --ubin BUILD/tools/ubin/ubin --dir FOLDER [--runs 15]
        [--ken-all ../shared/data/KEN_ALL.CSV] [--db FILE]

It needs Debian's sqlite3 and time packages (the programs `sqlite3` and `/usr/bin/time`).
FOLDER is a directory built with ubin-build from the same KEN_ALL.CSV (with JIGYOSYO.CSV or not).
The database (made once, kept with --db) holds every KEN_ALL row in an indexed table for the
postal code and in an FTS5 table with the trigram tokenizer over the address and the reading.

Four kinds of question, 12 queries each, each query run --runs times alternating with SQLite:
 - a postal code: `ubin find 7300014` / an indexed point query;
 - a text: 3 to 5 characters of a town's address / FTS5 MATCH ordered by rank (bm25), LIMIT 100;
 - a reading in hiragana: 3 to 5 kana of a town's reading / the same over the reading column;
 - a written address with a house number / FTS5 MATCH of its place ordered by rank, LIMIT 100.
Both sides print their results to a pipe that is read and dropped. The medians of each query's
ratio, of the wall times and of the peak memories are printed per kind.
"""
import argparse
import csv
import os
import random
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time
import unicodedata

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "..", "shared", "data")


def katakana(text):
    return "".join(chr(ord(c) + 0x60) if "ぁ" <= c <= "ゖ" else c for c in unicodedata.normalize("NFKC", text))


def hiragana(text):
    return "".join(chr(ord(c) - 0x60) if "ァ" <= c <= "ヶ" else c for c in text)


def rows(ken_all):
    with open(ken_all, encoding="cp932", newline="") as f:
        for r in csv.reader(f):
            town = r[8]
            if "（" in town or "）" in town or "以下に掲載がない場合" in town or town.endswith("一円"):
                continue
            yield r


def make_db(path, ken_all):
    db = sqlite3.connect(path)
    db.executescript(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE entries(id INTEGER PRIMARY KEY, postal TEXT, prefecture TEXT, city TEXT, town TEXT,"
        " kana TEXT);"
        "CREATE INDEX entries_postal ON entries(postal);"
        "CREATE VIRTUAL TABLE docs USING fts5(name, reading, postal UNINDEXED, tokenize='trigram');")
    with open(ken_all, encoding="cp932", newline="") as f:
        for i, r in enumerate(csv.reader(f), 1):
            reading = katakana(r[3] + r[4] + r[5])
            db.execute("INSERT INTO entries VALUES(?,?,?,?,?,?)", (i, r[2], r[6], r[7], r[8], reading))
            db.execute("INSERT INTO docs(rowid, name, reading, postal) VALUES(?,?,?,?)",
                       (i, r[6] + r[7] + r[8], reading, r[2]))
    db.commit()
    db.close()


def queries(ken_all, rnd, count):
    picked = rnd.sample(list(rows(ken_all)), count * 4)
    out = {"postal": [], "text": [], "reading": [], "address": []}
    for i, r in enumerate(picked):
        kind = ("postal", "text", "reading", "address")[i % 4]
        if len(out[kind]) >= count:
            continue
        name = r[7] + r[8]
        reading = katakana(r[5])
        if kind == "postal":
            out[kind].append((r[2], f"SELECT postal, prefecture, city, town, kana FROM entries WHERE postal = '{r[2]}'"))
        elif kind == "text" and len(name) >= 3:
            n = rnd.randint(3, min(5, len(name)))
            at = rnd.randrange(len(name) - n + 1)
            text = name[at:at + n]
            out[kind].append((text, f"SELECT rowid, postal, name FROM docs WHERE docs MATCH 'name : \"{text}\"'"
                                    " ORDER BY rank LIMIT 100"))
        elif kind == "reading" and len(reading) >= 3:
            n = rnd.randint(3, min(5, len(reading)))
            at = rnd.randrange(len(reading) - n + 1)
            text = reading[at:at + n]
            out[kind].append((hiragana(text), f"SELECT rowid, postal, name FROM docs WHERE docs MATCH '\"{text}\"'"
                                              " ORDER BY rank LIMIT 100"))
        elif kind == "address":
            written = f"{r[6]}{name}{rnd.randint(1, 5)}-{rnd.randint(1, 20)}-{rnd.randint(1, 9)}"
            out[kind].append((written, f"SELECT rowid, postal, name FROM docs WHERE docs MATCH 'name : \"{r[6] + name}\"'"
                                       " ORDER BY rank LIMIT 100"))
    return out


def run(argv):
    """Wall time in ms of one process, its output read and dropped."""
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
    return (time.perf_counter() - start) * 1000


def peak(argv):
    """Peak memory in MB of one process, as /usr/bin/time reports it (a process started by this
    script would count the script's own pages copied into it before it ran the program)."""
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       check=False, text=True)
    return int(p.stderr.strip().splitlines()[-1]) / 1024


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--ubin", required=True)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--ken-all", default=os.path.join(DATA, "KEN_ALL.CSV"))
    ap.add_argument("--db")
    ap.add_argument("--runs", type=int, default=15)
    ap.add_argument("--queries", type=int, default=12)
    ap.add_argument("--sqlite3", default="sqlite3")
    a = ap.parse_args()
    db = a.db or os.path.join(tempfile.gettempdir(), "ubin-process-bench.sqlite")
    if not os.path.exists(db):
        print(f"making {db} ...", file=sys.stderr)
        make_db(db, a.ken_all)
    rnd = random.Random(20261208)
    print(f"{'kind':8} {'ubin ms':>8} {'sqlite ms':>9} {'ratio':>6} {'ubin MB':>8} {'sqlite MB':>9}")
    worst = {}
    for kind, qs in queries(a.ken_all, rnd, a.queries).items():
        ratios, ours, theirs, our_mb, their_mb = [], [], [], [], []
        for text, sql in qs:
            ubin_ms, sqlite_ms = [], []
            ours_argv, theirs_argv = [a.ubin, "find", "--data", a.dir, text], [a.sqlite3, db, sql]
            for _ in range(a.runs):
                ubin_ms.append(run(ours_argv))
                sqlite_ms.append(run(theirs_argv))
            our_mb.append(peak(ours_argv))
            their_mb.append(peak(theirs_argv))
            ours.append(statistics.median(ubin_ms))
            theirs.append(statistics.median(sqlite_ms))
            ratios.append(ours[-1] / theirs[-1])
        worst[kind] = max(our_mb)
        print(f"{kind:8} {statistics.median(ours):8.2f} {statistics.median(theirs):9.2f} {statistics.median(ratios):6.2f}"
              f" {statistics.median(our_mb):8.1f} {statistics.median(their_mb):9.1f}")
    print("largest peak memory of ubin find:", ", ".join(f"{k} {v:.1f} MB" for k, v in worst.items()))


if __name__ == "__main__":
    main()
