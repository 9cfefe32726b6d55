"""ubin.build() against the ubin-build program: the same files, the same messages, the folder
replaced whole or left as it was."""
import os
import subprocess
from pathlib import Path

import pytest

import ubin

DATA = Path(__file__).resolve().parents[2] / "data"
KEN_ALL = str(DATA / "ken_all_sample.csv")
JIGYOSYO = str(DATA / "jigyosyo_sample.csv")


def build_cli():
    cli = os.environ.get("UBIN_BUILD_CLI")
    if not cli or not os.path.exists(cli):
        pytest.skip("no ubin-build program to compare with: build the target ubin-build, set UBIN_BUILD_CLI")
    return cli


def folder_bytes(folder):
    """Every file of a folder by name; MANIFEST.TXT without its build number, which every build
    draws anew, and its own checksum, which covers that number."""
    files = {}
    for path in sorted(Path(folder).iterdir()):
        data = path.read_bytes()
        if path.name == "MANIFEST.TXT":
            lines = data.splitlines(keepends=True)
            data = b"".join(line for line in lines if not line.startswith((b"build ", b"xxh3 ")))
        files[path.name] = data
    return files


def assert_built_alike(tmp_path, ken_all, offices):
    by_cli, by_module = tmp_path / "by-ubin-build", tmp_path / "by-module"
    subprocess.run([build_cli(), ken_all, str(by_cli), "--quiet"] + (["--offices", offices] if offices else []),
                   check=True)
    report = ubin.build(ken_all, by_module, offices=offices)
    expected, got = folder_bytes(by_cli), folder_bytes(by_module)
    assert expected and sorted(got) == sorted(expected)
    for name in expected:
        assert got[name] == expected[name], name
    return report


def test_the_sample_built_by_the_module_is_ubin_builds(tmp_path):
    report = assert_built_alike(tmp_path, KEN_ALL, JIGYOSYO)
    assert report.entries > 2000 and report.offices > 700 and report.edition_guessed


def test_the_full_data_built_by_the_module_is_ubin_builds(tmp_path):
    ken_all, offices = os.environ.get("UBIN_FULL_KEN_ALL", ""), os.environ.get("UBIN_FULL_JIGYOSYO", "")
    if not (os.path.isfile(ken_all) and os.path.isfile(offices)):
        pytest.skip("no full KEN_ALL.CSV and JIGYOSYO.CSV: set UBIN_FULL_KEN_ALL and UBIN_FULL_JIGYOSYO")
    report = assert_built_alike(tmp_path, ken_all, offices)
    assert report.entries > 100000 and report.offices > 20000


def test_a_rebuild_replaces_the_folder_and_counts_the_changes(tmp_path):
    out = tmp_path / "zipdata"
    seen = []
    first = ubin.build(KEN_ALL, out, progress=seen.append)
    assert first.changes is None and first.kept_folder is None
    assert seen and seen[-1].entries_written == first.entries
    for before, after in zip(seen, seen[1:]):
        assert (after.rows_read, after.offices_read, after.entries_written) >= (
            before.rows_read, before.offices_read, before.entries_written)
    again = ubin.build(KEN_ALL, str(out), edition="2026-11")
    assert again.changes == {"added": 0, "removed": 0, "changed": 0}
    assert (again.edition, again.edition_guessed) == ("2026-11", False)
    assert ubin.Directory(out).edition == "2026-11"
    assert not [p for p in tmp_path.iterdir() if p.name != "zipdata"]  # nothing left beside it


def failing_builds():
    """(arguments, exception, text of the message, whether ubin-build takes the same arguments)"""
    def boom(progress):
        raise LookupError("stopped by the callback")

    return [
        (dict(ken_all=KEN_ALL, edition="2026-13"), ubin.BuildError, 'the edition "2026-13" is not a year and a month', False),
        (dict(ken_all="/nonexistent/KEN_ALL.CSV"), ubin.BuildError, "/nonexistent/KEN_ALL.CSV", True),
        (dict(ken_all=JIGYOSYO), ubin.BuildError, "jigyosyo_sample.csv: line 1:", True),
        (dict(ken_all=KEN_ALL, offices=KEN_ALL), ubin.BuildError, "ken_all_sample.csv: line 1:", True),
        (dict(ken_all=KEN_ALL, progress=boom), LookupError, "stopped by the callback", False),
        (dict(ken_all=KEN_ALL, progress="not callable"), TypeError, "progress takes a callable", False),
        (dict(ken_all=KEN_ALL, changes="/nonexistent/changes.csv"), ubin.BuildError, "/nonexistent/changes.csv", False),
    ]


def test_a_failed_build_leaves_the_folder_and_says_what_ubin_build_says(tmp_path):
    out = tmp_path / "zipdata"
    ubin.build(KEN_ALL, out, edition="2026-11")
    for arguments, error, text, same_in_cli in failing_builds():
        with pytest.raises(error) as caught:
            ubin.build(folder=out, **arguments)
        assert text in str(caught.value), arguments
        assert ubin.Directory(out).edition == "2026-11", arguments
        if same_in_cli:
            args = [arguments["ken_all"], str(out), "--quiet"]
            if "offices" in arguments:
                args += ["--offices", arguments["offices"]]
            cli = subprocess.run([build_cli()] + args, capture_output=True, text=True)
            assert (cli.returncode, cli.stderr) == (1, f"ubin-build: {caught.value}\n")


def test_build_error_names_the_file_and_the_line(tmp_path):
    with pytest.raises(ubin.BuildError) as caught:
        ubin.build(JIGYOSYO, tmp_path / "zipdata")
    e = caught.value
    assert isinstance(e, ubin.Error)
    assert (Path(e.file).name, e.line) == ("jigyosyo_sample.csv", 1)
    assert e.reason and str(e).endswith(e.reason)


def test_a_folder_holding_other_files_is_not_replaced(tmp_path):
    out = tmp_path / "mine"
    out.mkdir()
    (out / "letter.txt").write_text("keep me")
    with pytest.raises(ubin.BuildError, match="letter.txt"):
        ubin.build(KEN_ALL, out)
    assert [p.name for p in out.iterdir()] == ["letter.txt"] and (out / "letter.txt").read_text() == "keep me"


def test_a_list_of_municipal_changes_is_recorded(tmp_path):
    changes = tmp_path / "changes.csv"
    changes.write_text("prefecture,before,after,date\n広島県,広島郡旧町,広島市中区,2005-04-01\n", encoding="utf-8")
    report = ubin.build(KEN_ALL, tmp_path / "zipdata", changes=changes)
    assert report.former_municipalities >= 1
    assert ubin.Directory(tmp_path / "zipdata").find("広島県広島郡旧町上幟町").results[0].postal_code == "7300014"
    found = ubin.Directory(tmp_path / "zipdata").find("広島県広島郡旧町上幟町")
    assert found.to_dict()["former_municipality"] == {"name": "広島郡旧町", "changed": "2005-04-01"}
