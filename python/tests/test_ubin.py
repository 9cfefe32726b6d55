"""The module over the sample directory: its answers against the ubin command's, the table call
against one call per row, and the engine's errors as exceptions."""
import io
import json
import os
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import ubin

QUERIES = ["730-0014", "ぎんざ", "宮内庁", "千代田区永田町９９", "千代田区丸の内2-7-2 JPタワー30階",
           "広島県広島市中区存在しない町1", "銀坐", "730", "!!!"]
ADDRESSES = ["千代田区永田町1-7-1", "広島県広島市中区上幟町8-18", "東京都中央区銀座4-6-16", "広島市中区存在しない町",
             "ぎんざ", "7300014", "宮内庁", "", "　", None, float("nan"), "a" * 3000, "千代田\x01区"]


def run_cli(args):
    cli = os.environ.get("UBIN_CLI")
    if not cli or not os.path.exists(cli):
        pytest.skip("no ubin program to compare with: build the target ubin, set UBIN_CLI")
    return subprocess.run([cli] + args, capture_output=True, text=True)


def run_module(args):
    return subprocess.run([sys.executable, "-m", "ubin"] + args, capture_output=True, text=True)


@pytest.mark.parametrize("query", QUERIES)
def test_find_answers_as_the_ubin_command(directory, sample_folder, query):
    expected = run_cli(["find", "--json", "--data", sample_folder, query])
    assert json.loads(directory.find(query).to_json()) == json.loads(expected.stdout)
    assert directory.find(query).to_dict() == json.loads(expected.stdout)


@pytest.mark.parametrize("args", [[q] for q in QUERIES] + [["--limit", "2", "730"], ["--json", "ぎんざ"], ["--limit", "0", "732"]])
def test_python_m_ubin_find_prints_as_ubin_find(sample_folder, args):
    expected = run_cli(["find", "--data", sample_folder] + args)
    got = run_module(["find", "--dir", sample_folder] + args)
    assert (got.stdout, got.returncode) == (expected.stdout, expected.returncode)


def test_directory_from_the_environment(sample_folder):
    env = dict(os.environ, UBIN_DIRECTORY=sample_folder)
    got = subprocess.run([sys.executable, "-m", "ubin", "find", "7300014"], capture_output=True, text=True, env=env)
    assert got.returncode == 0 and "上幟町" in got.stdout


def test_entry_attributes_are_its_dict(directory):
    entries = directory.find("730", limit=0).results + directory.postal("1008111") + directory.find("丸の内").results
    assert any(e.is_office for e in entries) and any(not e.is_office for e in entries)
    for e in entries:
        d = e.to_dict()
        for key, value in d.items():
            if key != "note":
                assert getattr(e, key) == value, (e, key)


def test_postal_options(directory):
    every = directory.postal("100")
    areas = directory.postal("100", offices=False)
    assert len(areas) < len(every) and not any(e.is_office for e in areas)
    assert [e.postal_code for e in directory.postal("100", limit=3)] == [e.postal_code for e in every[:3]]
    assert [e.to_dict() for e in directory.postal("〒１００－８１１１")] == [e.to_dict() for e in directory.postal("1008111")]


def test_resolve_many_answers_as_resolve_row_by_row(directory):
    one_by_one = []
    for text in ADDRESSES:
        try:
            one_by_one.append(directory.resolve(text).to_dict() if isinstance(text, str) else None)
        except ubin.QueryError as e:
            one_by_one.append(str(e))
    for threads in (1, 2, 0):
        many = directory.resolve_many(ADDRESSES * 20, threads=threads)
        assert len(many) == len(ADDRESSES) * 20
        for got, expected, text in zip(many, one_by_one * 20, ADDRESSES * 20):
            if expected is None or isinstance(expected, str):  # empty cells; rows the finder refuses
                assert not got and got.postal_code is None and (got.error is not None) == isinstance(expected, str)
            else:
                assert got.to_dict() == expected, text
    assert directory.resolve("千代田区永田町1-7-1").level == "number"
    assert directory.resolve("広島市中区存在しない町").rest == "存在しない町"


def test_pandas_column(directory):
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"address": ADDRESSES[:8] + [None, pd.NA]})
    df["postal_code"] = [r.postal_code for r in directory.resolve_many(df["address"])]
    applied = df["address"].apply(lambda a: directory.resolve(a).postal_code if isinstance(a, str) else None)
    assert df["postal_code"].tolist()[-2:] == [None, None]
    assert df["postal_code"].tolist() == applied.tolist()
    assert df["postal_code"][0] == directory.find(ADDRESSES[0]).results[0].postal_code


def test_threads_share_one_directory(directory):
    serial = [directory.find(q).to_json() for q in QUERIES * 10]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(lambda q: directory.find(q).to_json(), QUERIES * 10)) == serial


def test_resolve_many_lets_other_threads_run(directory):
    """While a long column is answered in C++, this thread keeps running: the GIL is released."""
    column = ADDRESSES[:7] * 2000
    done = threading.Event()
    start = time.monotonic()
    worker = threading.Thread(target=lambda: (directory.resolve_many(column), done.set()))
    last, longest = start, 0.0  # from before start(), which the call may hold up too
    worker.start()
    while not done.is_set():
        now = time.monotonic()
        longest, last = max(longest, now - last), now
    worker.join()
    took = time.monotonic() - start
    # Held, this loop would stand still for the whole call.
    assert took < 0.05 or longest < took / 2, (took, longest)


@pytest.mark.parametrize("call, error", [
    (lambda d: ubin.Directory("/nonexistent/ubin-folder"), ubin.DirectoryError),
    (lambda d: d.find("a" * 3000), ubin.QueryError),
    (lambda d: d.resolve("千代田\x01区"), ubin.QueryError),
    (lambda d: d.resolve_many(["千代田区", 12]), TypeError),
])
def test_errors(directory, call, error):
    with pytest.raises(error) as caught:
        call(directory)
    if issubclass(error, ubin.Error):
        assert str(caught.value)
    if error is ubin.DirectoryError:
        assert "/nonexistent/ubin-folder" in str(caught.value)


@pytest.mark.parametrize("code", ["", "abc", "〒-", "ー", "　"])
def test_postal_without_a_digit_finds_nothing(directory, code):
    assert directory.postal(code) == []
    assert directory.postal(code, offices=False, limit=5) == []


@pytest.mark.parametrize("threads", [1, 2])
def test_ctrl_c_stops_resolve_many_inside_the_call(sample_folder, threads):
    script = os.path.join(os.path.dirname(__file__), "interrupt_resolve_many.py")
    got = subprocess.run([sys.executable, script, sample_folder, str(threads)],
                         capture_output=True, text=True, timeout=300)
    assert got.returncode == 0, got.stderr
    # KeyboardInterrupt came out of the call itself, not after it had answered every row.
    assert got.stdout.split() == ["c_call", "c_exception"], got.stdout



def test_resolve_many_on_a_frame_gives_the_batch_columns(directory, sample_folder, tmp_path):
    """A DataFrame in, the frame with the columns of `ubin find --batch` out: the same values as
    the command gives for the same list written as CSV."""
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({
        "id": [1, 2, 3, 4, 5, 6],
        "住所": ["東京都千代田区永田町1-7-1 101号室", "広島市中区上幟町8-1 上幟ビル3F", "広島県広島市中区存在しない町1",
               None, "ぎんざ", "a" * 3000],
        "郵便番号": ["100-0014", 7300015, None, "", "abc", 470012],
        "memo": ["改行\nあり", "カンマ, あり", "", "", "", ""],
    })
    got = directory.resolve_many(df, column="住所", code_column="郵便番号", threads=2)
    assert list(df.columns) == ["id", "住所", "郵便番号", "memo"]  # the frame given is left as it was
    df.to_csv(tmp_path / "list.csv", index=False)
    cli = run_cli(["find", "--data", sample_folder, "--batch", "--column", "住所", "--header", "--code-column", "郵便番号",
                   str(tmp_path / "list.csv")])
    expected = pd.read_csv(io.StringIO(cli.stdout), dtype=str, keep_default_na=False)
    assert list(got.columns) == list(expected.columns)
    added = list(expected.columns)[len(df.columns):]
    assert added[0] == "postal_code" and added[-1] == "error"

    def shown(value):
        if value is None or value is pd.NA:
            return ""
        if isinstance(value, (bool, np_bool(pd))):
            return "yes" if value else "no"
        return str(value)

    for name in added:
        assert [shown(v) for v in got[name]] == expected[name].tolist(), name
    assert got["review"].dtype == bool and str(got["candidates"].dtype) == "Int64"
    assert got["code_check"].tolist() == ["same", "differs", None, None, "unreadable", None]
    assert got["error"][5] and got["postal_code"][5] is None


def np_bool(pd):
    return type(pd.Series([True]).iloc[0])


@pytest.mark.parametrize("call, error", [
    (lambda d, pd: d.resolve_many(pd.DataFrame({"a": ["x"]})), TypeError),
    (lambda d, pd: d.resolve_many(pd.DataFrame({"a": ["x"]}), column="b"), KeyError),
    (lambda d, pd: d.resolve_many(pd.DataFrame({"a": ["x"], "postal_code": ["1"]}), column="a"), ValueError),
    (lambda d, pd: d.resolve_many(["x"], column="a"), TypeError),
    (lambda d, pd: d.resolve_many(5), TypeError),
])
def test_resolve_many_frame_mistakes(directory, call, error):
    pd = pytest.importorskip("pandas")
    with pytest.raises(error):
        call(directory, pd)
