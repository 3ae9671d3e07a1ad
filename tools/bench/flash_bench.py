#!/usr/bin/env python3
"""Flashes a dense image (all 2048 blocks) into the device simulator with the command-line
flasher, once paced at 9600 baud and once unpaced, and prints how close the run comes to
the line's own time.

    tools/bench/flash_bench.py [--build build/default] [--only paced|unpaced]

Per run: the total time of the exchange (first to last byte on the line), the line's own time
for the bytes exchanged (10 bits per byte) plus the device's answer delays, their ratio, the
flasher's turnaround times (median, p99) and what they add up to, and the flasher's CPU time
and peak memory.
A benchmark, not a test: it measures and prints, it asserts nothing.
"""
import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time


def run(build, baud, workdir):
    sim = os.path.join(build, "tools/simulator/mirbazento-sim")
    cli = os.path.join(build, "app/VERidOvudida-cli")
    image = os.path.join(build, "app/dense.bin")
    report = os.path.join(workdir, f"report-{baud or 'unpaced'}.json")
    args = [sim, "--no-register", "--version", "0.01", "--once", "--report", report]
    if baud:
        args += ["--baud", str(baud)]
    simp = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
    port = simp.stdout.readline().strip()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    flasher = subprocess.run([cli, "--port", port, "--file", image],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    simp.wait(timeout=60)
    if flasher.returncode != 0:
        sys.exit(f"flasher failed ({flasher.returncode}):\n{flasher.stdout}")
    with open(report) as f:
        r = json.load(f)
    total = r["exchange_ms"] / 1000.0
    bytes_exchanged = r["bytes_received"] + r["bytes_sent"]
    delays = r["settings"]["answer_delay_ms"] / 1000.0 * r["dialogues"] * 2
    line = bytes_exchanged * 10.0 / baud + delays if baud else None
    host = r["turnaround_ms"]["host"]
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    print(f"--- {'paced at %d baud' % baud if baud else 'unpaced'}")
    print(f"blocks received            {r['blocks_received']} (distinct {r['blocks_distinct']}, "
          f"duplicates {r['duplicates']})")
    print(f"flasher wall time          {wall:8.2f} s")
    print(f"total (first to last byte) {total:8.2f} s")
    if line:
        print(f"line time + answer delays  {line:8.2f} s   ({bytes_exchanged} bytes)")
        print(f"ratio                      {total / line:8.3f}")
    print(f"flasher turnaround         median {host['median']:.2f} ms, p99 {host['p99']:.2f} ms, "
          f"max {host['max']:.2f} ms")
    pause = r["turnaround_ms"]["host_pause"]
    print(f"flasher's share of it      answers {host['total'] / 1000.0:.2f} s ({host['count']}), "
          f"pauses after its acknowledgement {pause['total'] / 1000.0:.2f} s "
          f"(median {pause['median']:.2f} ms, p99 {pause['p99']:.2f} ms)")
    print(f"flasher CPU                {cpu:8.2f} s = {100.0 * cpu / wall:.2f} % of the run")
    print(f"flasher peak memory        {after.ru_maxrss / 1024.0:8.1f} MiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--only", choices=["paced", "unpaced"])
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        if args.only != "paced":
            run(args.build, None, workdir)
        if args.only != "unpaced":
            run(args.build, 9600, workdir)


if __name__ == "__main__":
    main()
