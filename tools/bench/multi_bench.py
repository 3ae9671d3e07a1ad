#!/usr/bin/env python3
"""Flashes four device simulators paced at 9600 baud at once with one command-line flasher,
and one alone, and prints the wall times, their ratio and the flasher's CPU per device.

    tools/bench/multi_bench.py [--build build/default] [--blocks N] [--devices N]

The image is a developer file with N non-empty blocks (default 300: about 25 s a device at
9600 baud). A benchmark, not a test: it measures and prints, it asserts nothing.
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time


def image(path, blocks):
    data = bytearray(b"\xff" * 131072)
    for k in range(blocks):
        data[k * 64 + 3:k * 64 + 64] = bytes((k + i) & 0xFF for i in range(61))
    data[0], data[1] = 0x01, 0x00  # version 1.00, newer than the simulators' 0.01
    with open(path, "wb") as f:
        f.write(data)


def run(build, devices, file):
    sim = os.path.join(build, "tools/simulator/mirbazento-sim")
    cli = os.path.join(build, "app/VERidOvudida-cli")
    sims = [subprocess.Popen([sim, "--no-register", "--version", "0.01", "--baud", "9600",
                              "--once", "--linger", "0"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            for _ in range(devices)]
    ports = [s.stdout.readline().strip() for s in sims]
    args = [cli, "--file", file]
    for p in ports:
        args += ["--port", p]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    flasher = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    for s in sims:
        s.wait(timeout=60)
    if flasher.returncode != 0:
        sys.exit(f"flasher failed ({flasher.returncode}):\n{flasher.stdout}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--blocks", type=int, default=300)
    parser.add_argument("--devices", type=int, default=4)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        file = os.path.join(workdir, "image.bin")
        image(file, args.blocks)
        one, one_cpu = run(args.build, 1, file)
        many, many_cpu = run(args.build, args.devices, file)
    print(f"blocks per device           {args.blocks}, paced at 9600 baud")
    print(f"one device alone            {one:8.2f} s, flasher CPU {100 * one_cpu / one:.2f} % of a core")
    print(f"{args.devices} devices at once           {many:8.2f} s, flasher CPU "
          f"{100 * many_cpu / many:.2f} % of a core = "
          f"{100 * many_cpu / many / args.devices:.2f} % per device")
    print(f"ratio (at once / alone)     {many / one:8.3f}")


if __name__ == "__main__":
    main()
