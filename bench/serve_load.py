#!/usr/bin/env python3
"""ubin-serve under clients that would hold it, on the full directory (bench/serve_load.sh).

Three runs, each against a ubin-serve of its own, printing its figures:

  work     2 clients each posting batches of 10,000 lines of `n`, 2 clients pipelining
           /v1/find?q=n&limit=1000, and a third asking /api/search every 10 ms:
           the third's latencies (goal: p99 at most 100 ms).
  slots    10,000 connections from one client each sending half a request head and no more,
           then normal requests on new connections: how many are answered, and how fast.
  memory   1,500 connections each sending a batch head announcing 1 MiB and all of the body but
           its last byte, with normal requests beside: how many are answered, and the server's
           resident memory at its peak (goal: under the documented cap). Run as the server runs
           by default, and with --max-client-memory 0 (as behind a proxy, where every request
           comes from one address).

Standard library only; each client is a process of its own, so the clients' Python does not
slow the probe's.
"""
import argparse
import multiprocessing as mp
import os
import re
import resource
import signal
import socket
import subprocess
import sys
import time

HOST = "127.0.0.1"


# --- the server ---------------------------------------------------------------------------------

class Server:
    def __init__(self, exe, data, extra=()):
        self.proc = subprocess.Popen([exe, "--data", data, "--listen", HOST + ":0", *extra],
                                     stderr=subprocess.PIPE, text=True, errors="replace")
        line = self.proc.stderr.readline()
        m = re.search(r"listening on http://[^ ]*:(\d+)/", line)
        if not m:
            raise SystemExit("ubin-serve did not start: " + line)
        self.port = int(m.group(1))
        self.log = []
        # The request log is read and dropped, so the server never waits for the pipe.
        self.drain = mp.Process(target=_drain, args=(self.proc.stderr.fileno(),), daemon=True)
        self.drain.start()
        # The first lookups read the search index and the address notes: done before measuring.
        for target in ("/api/search?zipcode=7300014", "/v1/find?q=x"):
            get(self.port, target, timeout=60)

    def rss_kb(self, field="VmRSS"):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            status = self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = "killed after 60 s"
        self.drain.terminate()
        return status


def _drain(fd):
    with os.fdopen(fd, "rb", buffering=0) as f:
        while f.read(65536):
            pass


# --- HTTP over a plain socket ---------------------------------------------------------------------

def read_response(sock, buf):
    """One response from the socket: (status, body, rest of the buffer); status 0 when closed.
    A response that closes the connection (its last on a connection) leaves the buffer None."""
    while b"\r\n\r\n" not in buf:
        chunk = sock.recv(65536)
        if not chunk:
            return 0, b"", buf
        buf += chunk
    head, _, buf = buf.partition(b"\r\n\r\n")
    status = int(head[9:12])
    m = re.search(rb"(?i)\r\ncontent-length: *(\d+)", head)
    length = int(m.group(1)) if m else 0
    while len(buf) < length:
        chunk = sock.recv(max(65536, length - len(buf)))
        if not chunk:
            return 0, b"", buf
        buf += chunk
    closes = re.search(rb"(?i)\r\nconnection: *close", head) is not None
    return status, buf[:length], None if closes else buf[length:]


def get(port, target, timeout=10):
    """One GET on a connection of its own: (status, seconds)."""
    start = time.perf_counter()
    try:
        with socket.create_connection((HOST, port), timeout=timeout) as s:
            s.sendall(f"GET {target} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
            status, _, _ = read_response(s, b"")
    except OSError:
        status = 0
    return status, time.perf_counter() - start


def percentile(values, p):
    if not values:
        return float("nan")
    s = sorted(values)
    return s[min(len(s) - 1, int(len(s) * p / 100))]


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


# --- the clients ----------------------------------------------------------------------------------

def batch_client(port, seconds, out):
    body = ("n\n" * 10000).encode()
    head = f"POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nContent-Length: {len(body)}\r\n\r\n".encode()
    end = time.time() + seconds
    done = statuses = 0
    with socket.create_connection((HOST, port)) as s:
        buf = b""
        while time.time() < end:
            s.sendall(head + body)
            status, reply, buf = read_response(s, buf)
            if status == 0 or buf is None:
                break
            done += 1
            statuses += status == 200
    out.put(("batch", done, statuses))


def pipeline_client(port, seconds, out, depth=16):
    request = b"GET /v1/find?q=n&limit=1000 HTTP/1.1\r\nHost: x\r\n\r\n"
    end = time.time() + seconds
    done = ok = 0
    with socket.create_connection((HOST, port)) as s:
        buf = b""
        s.sendall(request * depth)
        while time.time() < end:
            status, _, buf = read_response(s, buf)
            if status == 0 or buf is None:
                break
            done += 1
            ok += status == 200
            s.sendall(request)
        out.put(("pipeline", done, ok))


def probe(port, seconds, every, out):
    """/api/search on a kept connection every `every` seconds: the latency of each."""
    codes = ["7300014", "1000001", "0600000", "9071801", "5300001", "8120011"]
    latencies, failures = [], 0
    end = time.time() + seconds
    s = socket.create_connection((HOST, port))
    buf = b""
    i = 0
    while time.time() < end:
        start = time.perf_counter()
        try:
            s.sendall(f"GET /api/search?zipcode={codes[i % len(codes)]} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            status, _, buf = read_response(s, buf)
        except OSError:
            status = 0
        if status == 200:
            latencies.append(time.perf_counter() - start)
        else:
            failures += 1
        if status != 200 or buf is None:  # a connection serves at most 1,000 requests
            s.close()
            s = socket.create_connection((HOST, port))
            buf = b""
        i += 1
        time.sleep(max(0.0, every - (time.perf_counter() - start)))
    s.close()
    out.put(("probe", latencies, failures))


def run_work(args):
    server = Server(args.serve, args.data)
    out = mp.Queue()
    seconds = args.seconds
    procs = [mp.Process(target=batch_client, args=(server.port, seconds, out)) for _ in range(2)]
    procs += [mp.Process(target=pipeline_client, args=(server.port, seconds, out)) for _ in range(2)]
    for p in procs:
        p.start()
    time.sleep(1)  # the batches and the pipelines are under way before the probe starts
    prober = mp.Process(target=probe, args=(server.port, seconds - 1, 0.01, out))
    prober.start()
    results = [out.get() for _ in range(len(procs) + 1)]
    for p in procs + [prober]:
        p.join()
    status = server.stop()
    latencies, failures = next((r[1], r[2]) for r in results if r[0] == "probe")
    batches = [r for r in results if r[0] == "batch"]
    pipelines = [r for r in results if r[0] == "pipeline"]
    print(f"work: {len(latencies)} /api/search answered beside 2 batch and 2 pipelining clients for {seconds} s, "
          f"{failures} failed; p50 {ms(percentile(latencies, 50))}, p99 {ms(percentile(latencies, 99))}, "
          f"max {ms(max(latencies) if latencies else float('nan'))}")
    print(f"work: batches of 10,000 lines answered {sum(b[1] for b in batches)} (200: {sum(b[2] for b in batches)}); "
          f"pipelined finds answered {sum(p[1] for p in pipelines)} (200: {sum(p[2] for p in pipelines)}); "
          f"server exit status {status}")


def hold_half_sent(port, count, ready, release):
    """`count` connections each with half a request head, held until released."""
    socks = []
    for i in range(count):
        try:
            s = socket.create_connection((HOST, port))
            s.sendall(b"GET /healthz HTTP/1.1\r\n")
            socks.append(s)
        except OSError:
            pass
    ready.put(len(socks))
    release.wait()
    open_ = 0
    for s in socks:
        # Still open: no end of stream waiting.
        s.setblocking(False)
        try:
            open_ += s.recv(1) != b""
        except BlockingIOError:
            open_ += 1
        except OSError:
            pass
        s.close()
    ready.put(open_)


def raise_open_files(n):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = min(hard, max(soft, n))
    resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
    return want


def run_slots(args):
    raise_open_files(args.half_sent + 1000)
    server = Server(args.serve, args.data, ["--request-timeout", "120", "--keep-alive-timeout", "120"])
    ready, release = mp.Queue(), mp.Event()
    holder = mp.Process(target=hold_half_sent, args=(server.port, args.half_sent, ready, release))
    holder.start()
    held = ready.get()
    time.sleep(1)
    results = [get(server.port, "/api/search?zipcode=7300014") for _ in range(200)]
    answered = [t for status, t in results if status == 200]
    release.set()
    still_open = ready.get()
    holder.join()
    status = server.stop()
    print(f"slots: {held} half-sent connections held; then {len(answered)} of {len(results)} normal requests "
          f"answered (p50 {ms(percentile(answered, 50))}, p99 {ms(percentile(answered, 99))}); "
          f"{still_open} half-sent still open after; server exit status {status}")


def unfinished_bodies(port, count, ready, release):
    body = b"x" * ((1 << 20) - 1)
    head = f"POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nContent-Length: {1 << 20}\r\n\r\n".encode()
    socks = []
    refused = 0
    for i in range(count):
        try:
            s = socket.create_connection((HOST, port))
            s.sendall(head)
            s.settimeout(0.05)
            try:
                s.sendall(body)
            except (socket.timeout, OSError):
                pass  # refused or shed: the server reads no more
            socks.append(s)
        except OSError:
            refused += 1
    ready.put(len(socks))
    release.wait()
    for s in socks:
        s.close()


def run_memory(args, extra, name):
    raise_open_files(args.bodies + 1000)
    server = Server(args.serve, args.data, ["--request-timeout", "120", *extra])
    base = server.rss_kb()
    ready, release = mp.Queue(), mp.Event()
    sender = mp.Process(target=unfinished_bodies, args=(server.port, args.bodies, ready, release))
    sender.start()
    peak, probes = 0, []
    while ready.empty():
        peak = max(peak, server.rss_kb())
        probes.append(get(server.port, "/api/search?zipcode=7300014", timeout=5))
        time.sleep(0.1)
    sent = ready.get()
    for _ in range(20):
        peak = max(peak, server.rss_kb())
        probes.append(get(server.port, "/api/search?zipcode=7300014", timeout=5))
        time.sleep(0.05)
    hwm = server.rss_kb("VmHWM")
    release.set()
    sender.join()
    status = server.stop()
    answered = [t for s, t in probes if s == 200]
    print(f"memory ({name}): {sent} connections sent 1 MiB less a byte each; resident {base // 1024} MiB before, "
          f"peak {max(peak, hwm) // 1024} MiB; {len(answered)} of {len(probes)} normal requests answered meanwhile "
          f"(p99 {ms(percentile(answered, 99))}); server exit status {status}")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--serve", required=True, help="the ubin-serve program")
    p.add_argument("--data", required=True, help="the full directory folder")
    p.add_argument("--seconds", type=int, default=30, help="length of the work run")
    p.add_argument("--half-sent", type=int, default=10000)
    p.add_argument("--bodies", type=int, default=1500)
    p.add_argument("runs", nargs="*", default=["work", "slots", "memory"])
    args = p.parse_args()
    for run in args.runs:
        if run == "work":
            run_work(args)
        elif run == "slots":
            run_slots(args)
        elif run == "memory":
            run_memory(args, [], "defaults")
            run_memory(args, ["--max-client-memory", "0"], "--max-client-memory 0")
        else:
            sys.exit(f"serve_load: no run named {run}")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
