#!/usr/bin/env python3
"""The fleet's figures against a loopback mosquitto and an SQLite store:

  broker   the broker's own limit: a client that only publishes at QoS 1
           (fleet_publish_bench.cpp), acknowledged messages per second
  shipper alone  the same record with --confirm broker: the shipper and the
           broker without the collector and the store
  drain    a record of 100,000 lines shipped and stored, lines per second
           end to end (from the shipper's start to the last line stored)
  latency  32 devices appending to one record: from a line appended to it
           being in the store (its start column against the store's received
           time), p50 and p99
  memory   the shipper's RSS with 1,000,000 unconfirmed lines against none
  station  with --flash-bench IAP_FLASH_BENCH, in the same run: the station
           at a USB host's limit, 127 devices against one, and its CPU share

usage: fleet_bench.py USB_IAP_FLEET IAP_FLEET_PUBLISH_BENCH [--flash-bench IAP_FLASH_BENCH]
                      [--lines N] [--backlog N] [--seconds S]
"""
import argparse
import datetime
import json
import os
import random
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

HEADER = ("start,duration_ms,procedure,outcome,result,status,vid,pid,bcd_device,serial,path,sw_version,"
          "payload_length,payload_crc,tool,failure,port,tool_version,attempt_id")


def line(i, start, tag):
    return (f"{start},{900 + i % 100},upgrade,passed,passed,0,0x1209,0x0001,0x0100,SN{i:08d},/dev/hidraw{i % 8},"
            f"1.2.0,65536,0x{i * 2654435761 % 4294967296:08X},tool.exe,,1-4.{i % 8 + 1},1.0.0,"
            f"{tag}-0000-7000-8000-{i:012d}\r\n")


def write_record(path, n, tag):
    with open(path, "w", newline="") as f:
        f.write(HEADER + "\r\n")
        for start in range(0, n, 10000):
            f.write("".join(line(i, "2026-12-09T10:00:00.000Z", tag) for i in range(start, min(n, start + 10000))))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def iso_now():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"


def parse_iso(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=datetime.timezone.utc)


def stored(db, where="1"):
    try:
        with sqlite3.connect(f"file:{db}?mode=ro", uri=True, timeout=5) as c:
            return c.execute(f"SELECT count(*) FROM attempts WHERE {where}").fetchone()[0]
    except sqlite3.Error:
        return 0


def wait_stored(db, n, where="1", limit=600):
    until = time.monotonic() + limit
    while stored(db, where) < n:
        if time.monotonic() > until:
            sys.exit(f"fleet_bench: only {stored(db, where)} of {n} lines stored after {limit} s")
        time.sleep(0.05)
    return time.monotonic()


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        fields = dict(l.split(":", 1) for l in f if ":" in l)
    return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("fleet")
    ap.add_argument("publish_bench")
    ap.add_argument("--lines", type=int, default=100_000)
    ap.add_argument("--backlog", type=int, default=1_000_000)
    ap.add_argument("--seconds", type=float, default=20, help="how long the 32 devices run")
    ap.add_argument("--flash-bench", help="iap_flash_bench, for the station's figures at 127 devices")
    a = ap.parse_args()
    tmp = tempfile.mkdtemp(prefix="iap-fleet-bench.")
    procs = []

    def start(name, *cmd, **kw):
        p = subprocess.Popen(cmd, stdout=open(f"{tmp}/{name}.log", "w"), stderr=subprocess.STDOUT, **kw)
        procs.append(p)
        return p

    def stop(p):
        p.terminate()
        p.wait(10)

    try:
        port = free_port()
        url = f"mqtt://127.0.0.1:{port}"
        with open(f"{tmp}/m.conf", "w") as f:
            f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence true\n"
                    f"persistence_location {tmp}/\nmax_queued_messages 0\n")
        start("mosquitto", "mosquitto", "-c", f"{tmp}/m.conf")
        for _ in range(50):
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                break
            except OSError:
                time.sleep(0.1)

        # The broker's own limit: a client that only publishes, at QoS 1, messages of an attempt's size.
        size = len(line(0, "2026-12-09T10:00:00.000Z", "00000000")) * 2
        broker_rate = float(subprocess.run([a.publish_bench, url, str(a.lines), str(size)], capture_output=True,
                                           text=True, check=True).stdout)

        # The shipper alone: --confirm broker, until its state file says all is acknowledged.
        record = f"{tmp}/alone.csv"
        write_record(record, a.lines, "0000a10e")
        began = time.monotonic()
        ship = start("ship-alone", a.fleet, "ship", "--broker", url, "--site", "bench", "--station", "alone",
                     "--confirm", "broker", record)
        size = os.path.getsize(record)
        while True:
            try:
                with open(record + ".ship-state") as f:
                    if json.load(f)["confirmed"] >= size:
                        break
            except (OSError, ValueError):
                pass
            time.sleep(0.02)
        alone_rate = a.lines / (time.monotonic() - began)
        stop(ship)

        # drain
        db = f"{tmp}/fleet.sqlite"
        collect = start("collect", a.fleet, "collect", "--broker", url, "--db", db)
        time.sleep(1)
        record = f"{tmp}/drain.csv"
        write_record(record, a.lines, "0000d1a1")
        began = time.monotonic()
        ship = start("ship-drain", a.fleet, "ship", "--broker", url, "--site", "bench", "--station", "drain", record)
        drain_rate = a.lines / (wait_stored(db, a.lines, "station = 'drain'") - began)
        stop(ship)

        # latency: 32 devices, each ending an attempt every 0.5 to 1.5 s
        record = f"{tmp}/latency.csv"
        with open(record, "w", newline="") as f:
            f.write(HEADER + "\r\n")
        ship = start("ship-latency", a.fleet, "ship", "--broker", url, "--site", "bench", "--station", "latency", record)
        time.sleep(1.5)
        fd = os.open(record, os.O_WRONLY | os.O_APPEND)
        lock = threading.Lock()
        count = [0]
        end = time.monotonic() + a.seconds

        def device(k):
            rng = random.Random(k)
            while True:
                time.sleep(rng.uniform(0.5, 1.5))
                if time.monotonic() >= end:
                    return
                with lock:
                    i = count[0]
                    count[0] += 1
                    os.write(fd, line(i, iso_now(), "0000a7e0").encode())

        devices = [threading.Thread(target=device, args=(k,)) for k in range(32)]
        for t in devices:
            t.start()
        for t in devices:
            t.join()
        os.close(fd)
        wait_stored(db, count[0], "station = 'latency'")
        with sqlite3.connect(f"file:{db}?mode=ro", uri=True, timeout=5) as c:
            rows = c.execute("SELECT start, received FROM attempts WHERE station = 'latency'").fetchall()
        lat = sorted((parse_iso(r) - parse_iso(s)).total_seconds() * 1000 for s, r in rows)
        p50, p99 = lat[len(lat) // 2], lat[min(len(lat) - 1, int(len(lat) * 0.99))]
        stop(ship)
        stop(collect)

        # memory: no collector, so nothing is confirmed
        def shipper_rss(name, n):
            record = f"{tmp}/{name}.csv"
            write_record(record, n, "0000e3e3")
            p = start(f"ship-{name}", a.fleet, "ship", "--broker", url, "--site", "bench", "--station", name, record)
            time.sleep(8)
            rss, peak = rss_kb(p.pid)
            stop(p)
            os.remove(record)
            return rss, peak

        idle_rss, idle_peak = shipper_rss("none", 0)
        full_rss, full_peak = shipper_rss("backlog", a.backlog)
        station = []
        if a.flash_bench:
            out = subprocess.run([a.flash_bench], capture_output=True, text=True).stdout.splitlines()
            station = [text for text in out if "127" in text] or ["iap_flash_bench printed no 127-device figures"]

        print(f"broker limit   {broker_rate:10.0f} messages/s   (a client that only publishes, QoS 1, {a.lines} messages acknowledged)")
        print(f"shipper alone  {alone_rate:10.0f} lines/s      ({a.lines} lines, --confirm broker, no collector)")
        print(f"drain          {drain_rate:10.0f} lines/s      ({a.lines} lines shipped and stored in SQLite; goal 5000)")
        print(f"latency        p50 {p50:.0f} ms, p99 {p99:.0f} ms   ({len(lat)} lines from 32 devices; goal p99 <= 500 ms)")
        print(f"memory         RSS {idle_rss / 1024:.1f} MB with no backlog, {full_rss / 1024:.1f} MB with {a.backlog} "
              f"unconfirmed lines: {(full_rss - idle_rss) / 1024:+.1f} MB (peaks {idle_peak / 1024:.1f} and "
              f"{full_peak / 1024:.1f} MB; goal within 5 MB)")
        for figure in station:
            print(f"station        {figure}")
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
        subprocess.run(["rm", "-rf", tmp])


if __name__ == "__main__":
    main()
