"""The wheel writer (pep517/make_wheel.py): what pip needs in a wheel, and no module packed under
another interpreter's tag."""
import base64
import hashlib
import importlib.util
import sysconfig
import zipfile
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
_located = importlib.util.spec_from_file_location("make_wheel", PYTHON_DIR / "pep517" / "make_wheel.py")
make_wheel = importlib.util.module_from_spec(_located)
_located.loader.exec_module(make_wheel)


def fake_module(folder, suffix):
    module = folder / f"_ubin{suffix}"
    module.write_bytes(b"\x7fELF not really a module")
    return module


def test_every_file_is_in_record_with_its_hash_and_size(tmp_path):
    module = fake_module(tmp_path, sysconfig.get_config_var("EXT_SUFFIX"))
    wheel = make_wheel.write_wheel("2.0", module, PYTHON_DIR / "ubin", tmp_path / "dist", None)
    assert wheel.name == f"ubin-2.0-{make_wheel.wheel_tag()}.whl"
    with zipfile.ZipFile(wheel) as z:
        record = z.read("ubin-2.0.dist-info/RECORD").decode().splitlines()
        assert sorted(line.rsplit(",", 2)[0] for line in record) == sorted(z.namelist())
        for line in record:
            name, digest, size = line.rsplit(",", 2)
            if name.endswith("/RECORD"):
                assert (digest, size) == ("", "")
                continue
            data = z.read(name)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert (digest, int(size)) == (f"sha256={expected}", len(data)), name
        assert f"ubin/{module.name}" in z.namelist() and "ubin/py.typed" in z.namelist()
        wheel_file = z.read("ubin-2.0.dist-info/WHEEL").decode()
        assert f"Tag: {make_wheel.wheel_tag()}\n" in wheel_file and "Root-Is-Purelib: false\n" in wheel_file
        assert "Name: ubin\nVersion: 2.0\n" in z.read("ubin-2.0.dist-info/METADATA").decode()


def test_the_same_inputs_give_the_same_wheel(tmp_path):
    module = fake_module(tmp_path, sysconfig.get_config_var("EXT_SUFFIX"))
    first = make_wheel.write_wheel("2.0", module, PYTHON_DIR / "ubin", tmp_path / "a", None).read_bytes()
    second = make_wheel.write_wheel("2.0", module, PYTHON_DIR / "ubin", tmp_path / "b", None).read_bytes()
    assert first == second


def test_a_module_built_for_another_python_is_refused(tmp_path):
    module = fake_module(tmp_path, ".cpython-27-x86_64-linux-gnu.so")
    with pytest.raises(SystemExit, match="not the module _ubin"):
        make_wheel.write_wheel("2.0", module, PYTHON_DIR / "ubin", tmp_path / "dist", None)
    assert not (tmp_path / "dist").exists() or not list((tmp_path / "dist").iterdir())
