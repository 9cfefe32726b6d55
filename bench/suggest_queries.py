#!/usr/bin/env python3
"""Queries for suggest_bench.sh, as customers type them into a form, drawn from KEN_ALL.CSV.

    suggest_queries.py KEN_ALL.CSV COUNT OUT_SUGGEST OUT_SEARCH

OUT_SUGGEST gets COUNT request targets for /v1/suggest, a quarter each: an address as it is
being typed (prefecture, city, town and a house number, cut after 2 characters or more), a
whole address with a house number and a building, a town's reading in hiragana cut as it is
being typed, and a postal code of 7 digits. OUT_SEARCH gets COUNT targets for /api/search with
codes drawn from the same rows. The draw is the same on every run.
"""
import csv
import random
import sys
import unicodedata
import urllib.parse


def hiragana(kana):
    text = unicodedata.normalize('NFKC', kana)
    return ''.join(chr(ord(c) - 0x60) if 'ァ' <= c <= 'ヶ' else c for c in text)


def main():
    ken_all, count, out_suggest, out_search = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    with open(ken_all, encoding='cp932', newline='') as f:
        rows = [r for r in csv.reader(f) if '以下に掲載がない場合' not in r[8] and not any(c in r[8] for c in '（、０１２３４５６７８９')]
    rng = random.Random(20261208)
    suggest, search = [], []
    for i in range(count):
        r = rng.choice(rows)
        code, pref, city, town, town_kana = r[2], r[6], r[7], r[8], r[5]
        number = f'{rng.randint(1, 9)}-{rng.randint(1, 30)}-{rng.randint(1, 20)}'
        kind = i % 4
        if kind == 0:
            typed = (pref if rng.random() < 0.5 else '') + city + town + number
            q = typed[:rng.randint(2, len(typed))]
        elif kind == 1:
            q = f'{pref}{city}{town}{number} {rng.choice(["サンプルビル", "コーポ山田", "メゾン・ド・ソレイユ"])} {rng.randint(1, 12)}0{rng.randint(1, 9)}'
        elif kind == 2:
            reading = hiragana(town_kana)
            q = reading[:rng.randint(2, max(2, len(reading)))]
        else:
            q = code
        suggest.append('/v1/suggest?limit=10&q=' + urllib.parse.quote(q))
        search.append('/api/search?zipcode=' + code)
    with open(out_suggest, 'w') as f:
        f.write('\n'.join(suggest) + '\n')
    with open(out_search, 'w') as f:
        f.write('\n'.join(search) + '\n')


if __name__ == '__main__':
    main()
