"""Run by test_ubin.py: resolve_many over a column long enough to take seconds, with SIGINT sent
once the call has taken the column. Prints the profile events of the call: 'c_exception' when
KeyboardInterrupt was raised inside it, 'c_return' when it ran to its end first.

    python3 interrupt_resolve_many.py FOLDER THREADS
"""
import os
import signal
import sys
import threading
import time

import ubin

# A process started in the background by a non-interactive shell (CI, nohup) inherits SIGINT
# ignored, and Python then leaves it ignored: the signal sent below would be dropped and the call
# would run to its end. Ctrl+C at a terminal reaches Python's own handler; so must this signal.
signal.signal(signal.SIGINT, signal.default_int_handler)

directory = ubin.Directory(sys.argv[1])
rows = ["千代田区永田町1-7-1", "ぎんざ", "広島県広島市中区上幟町8-18", "n", "宮内庁"]
# About ten seconds of work, whatever this machine's speed: far more than the signal needs. The
# first call opens what the rows read, which would make a row look slower than it is (and the
# column too short to be interrupted): the rows are timed in a second call, and the column is
# never shorter than 100,000 rows.
directory.resolve_many(rows * 20)
start = time.monotonic()
directory.resolve_many(rows * 200)
per_row = max(time.monotonic() - start, 1e-6) / (len(rows) * 200)
column = rows * max(int(10.0 / per_row / len(rows)) + 1, 100_000 // len(rows))

taken = threading.Event()


def texts():
    yield from column
    taken.set()  # the call holds every text now and answers them without the GIL


def interrupt():
    taken.wait()
    os.kill(os.getpid(), signal.SIGINT)


events = []


def profile(frame, event, arg):
    if event.startswith("c_") and getattr(arg, "__name__", "") == "resolve_many":
        events.append(event)


threading.Thread(target=interrupt, daemon=True).start()
try:
    try:
        sys.setprofile(profile)
        directory.resolve_many(texts(), threads=int(sys.argv[2]))
    finally:
        sys.setprofile(None)
except KeyboardInterrupt:
    pass
print(" ".join(events))
