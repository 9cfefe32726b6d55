#!/usr/bin/env python3
"""Runs a MinGW-w64 link with lld instead of GNU ld.

    mingw-lld-link.py LD_LLD DRIVER ARGUMENTS...

The toolchain file (mingw-w64-posix.cmake) puts this in front of every link command. Debian's
MinGW GCC calls the GNU ld it was built with whatever -fuse-ld says, and GNU ld takes about 25 s
to link one of the statically linked test programs, lld a fraction of a second. So the driver is
asked what it would run (-###), and its collect2 command runs with lld in collect2's place: the
same start files, libraries and options, which lld takes as GNU ld's (-m i386pep makes it link
for MinGW). When the driver names no collect2 command, the link runs as it was given.
"""
import shlex
import subprocess
import sys


def main(argv):
    if len(argv) < 3:
        sys.stderr.write("usage: mingw-lld-link.py LD_LLD DRIVER ARGUMENTS...\n")
        return 2
    lld, command = argv[1], argv[2:]
    shown = subprocess.run(command + ["-###"], capture_output=True, text=True)
    if shown.returncode != 0:
        sys.stderr.write(shown.stderr)
        return shown.returncode
    links = [line for line in shown.stderr.splitlines() if line.startswith(" ") and "collect2" in line]
    if len(links) != 1:
        return subprocess.run(command).returncode
    linker_arguments = shlex.split(links[0])[1:]
    return subprocess.run([lld] + linker_arguments).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
