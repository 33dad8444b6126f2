#!/usr/bin/env python3
"""Throughput and memory of tovrin against cat, dd and tr, side by side.

Needs GNU time (apt-get install time).

Usage: bench/run.py [--tovrin PATH] [--kernel-bench PATH] [--size MIB]

Makes three inputs (UTF-16-like text, random bytes, ASCII text) in a
temporary folder, checks that tovrin's output equals tr's for the same rule,
then prints best-of-3 times and the ratios the project aims for. Timings are
for reading, not for pass or fail.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TR = ["tr", "-ds", "\\000\\200-\\377", "\\r"]
ENV = dict(os.environ, LC_ALL="C")


def make_inputs(folder, mib):
    utf16_line = "The quick brown fox jumps over the lazy dog 0123456789.\r\n".encode("utf-16-le")
    ascii_line = b"lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod\n"
    chunk = 1 << 20
    kinds = {
        "UTF-16-like text": lambda: (b"\xff\xfe" + utf16_line * (chunk // len(utf16_line) + 1))[:chunk],
        "random bytes": lambda: os.urandom(chunk),
        "ASCII text": lambda: (ascii_line * (chunk // len(ascii_line) + 1))[:chunk],
    }
    paths = {}
    for name, block in kinds.items():
        path = os.path.join(folder, name.split()[0].lower().replace("-like", ""))
        with open(path, "wb") as f:
            for _ in range(mib):
                f.write(block())
        paths[name] = path
    return paths


def best(cmd, stdin=None, runs=3):
    """Best wall time of cmd over runs, standard output to /dev/null."""
    times = []
    for _ in range(runs):
        with open(stdin or os.devnull, "rb") as f:
            start = time.perf_counter()
            subprocess.run(cmd, stdin=f, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env=ENV, check=True)
            times.append(time.perf_counter() - start)
    return min(times)


def same_output(tovrin, path, folder):
    with open(path, "rb") as f:
        want = subprocess.run(TR, stdin=f, stdout=subprocess.PIPE, env=ENV, check=True).stdout
    out = os.path.join(folder, "check")
    subprocess.run([tovrin, path, out], check=True)
    with open(out, "rb") as f:
        got = f.read()
    os.remove(out)
    return got == want


def peak_rss_kib(cmd):
    """Peak resident size of one run of cmd, in KiB, as GNU time reports it.

    A child forked from this script would count the script's own size too."""
    res = subprocess.run(["/usr/bin/time", "-f", "%M", "--"] + cmd,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
    return int(res.stderr.strip().splitlines()[-1])


def cpu_name():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown CPU"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tovrin", default=os.path.join(ROOT, "build/bench/tovrin"))
    ap.add_argument("--kernel-bench", default=os.path.join(ROOT, "build/bench/bench/kernel_bench"))
    ap.add_argument("--size", type=int, default=1024, help="MiB per input (default 1024)")
    args = ap.parse_args()
    tovrin = os.path.abspath(args.tovrin)

    folder = tempfile.mkdtemp(prefix="tovrin-bench-")
    try:
        print(f"CPU: {cpu_name()}; inputs of {args.size} MiB in the page cache; best of 3\n")
        inputs = make_inputs(folder, args.size)
        out = os.path.join(folder, "out")
        rows = []
        for name, path in inputs.items():
            ok = same_output(tovrin, path, folder)
            subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # warm the cache
            cat = best(["cat", path])
            tr = best(TR, stdin=path)
            null = best([tovrin, path, os.devnull])
            text = best([tovrin, path])
            dd = best(["dd", f"if={path}", f"of={out}", "bs=256K"])
            copy = best([tovrin, path, out])
            rows.append((name, ok, cat, tr, null, text, dd, copy))

        print("| input | same as tr | cat | tr -ds | tovrin f /dev/null | tovrin f > /dev/null | dd bs=256K f g | tovrin f g |")
        print("|---|---|---|---|---|---|---|---|")
        for name, ok, cat, tr, null, text, dd, copy in rows:
            print(f"| {name} | {'yes' if ok else 'NO'} | {cat:.3f} s | {tr:.3f} s | {null:.3f} s | "
                  f"{text:.3f} s | {dd:.3f} s | {copy:.3f} s |")
        print("\n| input | file to /dev/null / cat (goal <= 1.5) | vs tr (faster by) | "
              "stdout to /dev/null / cat (goal <= 2.5) | file to file / dd (goal <= 1.2) |")
        print("|---|---|---|---|---|")
        for name, ok, cat, tr, null, text, dd, copy in rows:
            print(f"| {name} | {null / cat:.2f} | {tr / null:.1f}x | {text / cat:.2f} | {copy / dd:.2f} |")

        small = os.path.join(folder, "small")
        with open(small, "wb") as f:
            f.write(os.urandom(1024))
        big = f"for i in 1 2 3 4 5; do cat '{inputs['random bytes']}'; done"
        rss_small = peak_rss_kib([tovrin, small])
        fifo = os.path.join(folder, "fifo")
        os.mkfifo(fifo)
        feeder = subprocess.Popen(f"({big}) > '{fifo}'", shell=True)
        rss_big = peak_rss_kib([tovrin, fifo])
        feeder.wait()
        print(f"\nPeak resident size: 1 KiB input {rss_small} KiB; "
              f"{5 * args.size} MiB input {rss_big} KiB; difference {rss_big - rss_small} KiB "
              f"(goal <= 1024 KiB)")
    finally:
        shutil.rmtree(folder)

    if os.path.exists(args.kernel_bench):
        print("\nKernels over one 8 KiB block in cache:")
        res = subprocess.run([args.kernel_bench, "--benchmark_min_time=0.3"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        for line in res.stdout.splitlines():
            if line.startswith(("keep/", "expand/", "memcpy")):
                print("  " + line)
    else:
        print(f"\n(no kernel benchmark at {args.kernel_bench}: cmake --preset bench && "
              "cmake --build --preset bench)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
