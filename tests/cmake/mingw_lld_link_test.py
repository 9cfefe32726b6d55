"""cmake/mingw-lld-link.py against stand-ins for the MinGW driver and for lld.

The driver stand-in answers -### the way GCC does (the collect2 command on a line of its own,
each argument quoted where it needs to be) and otherwise records that it linked; the lld
stand-in records the arguments it was given.
"""
import json
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

LAUNCHER = os.path.join(os.path.dirname(__file__), "..", "..", "cmake", "mingw-lld-link.py")

DRIVER = textwrap.dedent("""\
    import json, os, sys
    mode = os.environ["DRIVER_MODE"]
    if "-###" in sys.argv:
        if mode == "fails":
            sys.stderr.write("x86_64-w64-mingw32-g++: error: missing.obj: No such file\\n")
            sys.exit(1)
        sys.stderr.write("Target: x86_64-w64-mingw32\\n")
        sys.stderr.write("COLLECT_GCC_OPTIONS='-static' '-o' 'a b.exe'\\n")
        if mode == "collect2":
            sys.stderr.write(' /usr/lib/gcc/x86_64-w64-mingw32/12-posix/collect2 -plugin /p.so '
                             '"-plugin-opt=-pass-through=-lgcc" -m i386pep -o "a b.exe" "x\\\\"y.obj" -lstdc++\\n')
        sys.exit(0)
    with open(os.environ["RECORD"], "w") as f:
        json.dump({"driver": sys.argv[1:]}, f)
    """)

LLD = textwrap.dedent("""\
    import json, os, sys
    with open(os.environ["RECORD"], "w") as f:
        json.dump({"lld": sys.argv[1:]}, f)
    sys.exit(int(os.environ.get("LLD_STATUS", "0")))
    """)


class MingwLldLink(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.driver = self.write("driver.py", DRIVER)
        self.lld = self.write("lld.py", LLD)
        self.record = os.path.join(self.dir.name, "record.json")

    def write(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w") as f:
            f.write(text)
        # Each stand-in is run as a program of its own: a script that starts Python.
        wrapper = path + ".sh"
        with open(wrapper, "w") as f:
            f.write(f'#!/bin/sh\nexec "{sys.executable}" "{path}" "$@"\n')
        os.chmod(wrapper, 0o755)
        return wrapper

    def link(self, mode, lld_status=0):
        env = dict(os.environ, DRIVER_MODE=mode, RECORD=self.record, LLD_STATUS=str(lld_status))
        run = subprocess.run([sys.executable, LAUNCHER, self.lld, self.driver, "-static", "x.obj", "-o", "a b.exe"],
                             env=env, capture_output=True, text=True)
        recorded = None
        if os.path.exists(self.record):
            with open(self.record) as f:
                recorded = json.load(f)
        return run, recorded

    def test_the_collect2_command_runs_with_lld_in_its_place(self):
        run, recorded = self.link("collect2")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(recorded, {"lld": ["-plugin", "/p.so", "-plugin-opt=-pass-through=-lgcc", "-m", "i386pep",
                                            "-o", "a b.exe", 'x"y.obj', "-lstdc++"]})

    def test_lld_failing_fails_the_link(self):
        run, _ = self.link("collect2", lld_status=3)
        self.assertEqual(run.returncode, 3)

    def test_without_a_collect2_command_the_link_runs_as_given(self):
        run, recorded = self.link("none")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(recorded, {"driver": ["-static", "x.obj", "-o", "a b.exe"]})

    def test_a_driver_that_fails_is_the_links_failure_and_says_why(self):
        run, recorded = self.link("fails")
        self.assertEqual(run.returncode, 1)
        self.assertIn("missing.obj: No such file", run.stderr)
        self.assertIsNone(recorded)


if __name__ == "__main__":
    unittest.main()
