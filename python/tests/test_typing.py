"""The type information that ships with the module: the stubs match what the compiled module
has (mypy's stubtest), and mypy checks a program that uses it by them."""
import os
import re
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy", reason="no mypy for this python (Debian: apt install python3-mypy)")

ALLOWLIST = os.path.join(os.path.dirname(__file__), "stubtest-allowlist.txt")


def test_the_stubs_say_what_the_compiled_module_has(tmp_path):
    got = subprocess.run([sys.executable, "-m", "mypy.stubtest", "ubin._ubin", "--allowlist", ALLOWLIST],
                         capture_output=True, text=True, cwd=tmp_path)
    assert got.returncode == 0, got.stdout + got.stderr


# Each line marked "# error" is one mypy must refuse; the others it must accept.
PROGRAM = """\
    import ubin
    d = ubin.Directory("folder", mapped=False)
    codes: list[str] = [e.postal_code for e in d.postal("730", offices=False)]
    found = d.find("ぎんざ", limit=5)
    first: ubin.Entry = found.results[0]
    level: str | None = d.resolve("千代田区永田町1-7-1").level
    rows = [r.to_dict()["candidates"] + 1 for r in d.resolve_many(["a", None, float("nan")], threads=0)]
    report = ubin.build("KEN_ALL.CSV", "zipdata", offices="JIGYOSYO.CSV", progress=lambda p: print(p.rows_read))
    kept: str | None = report.kept_folder
    d.postal(7300014)  # error
    text: str = d.resolve("x").postal_code  # error
    ubin.build("KEN_ALL.CSV", "zipdata", changes=2005)  # error
    d.find("x").total + "1"  # error
    try:
        pass
    except ubin.BuildError as e:
        e.line.upper()  # error
"""


def test_mypy_checks_a_program_by_the_stubs(tmp_path):
    program = tmp_path / "uses_ubin.py"
    program.write_text(textwrap.dedent(PROGRAM), encoding="utf-8")
    expected = {n for n, line in enumerate(textwrap.dedent(PROGRAM).splitlines(), 1) if line.endswith("# error")}
    got = subprocess.run([sys.executable, "-m", "mypy", "--python-executable", sys.executable, "--cache-dir",
                          str(tmp_path / "cache"), "--strict-optional", str(program)],
                         capture_output=True, text=True, cwd=tmp_path)
    refused = {int(n) for n in re.findall(r"uses_ubin\.py:(\d+): error", got.stdout)}
    assert refused == expected, got.stdout + got.stderr
