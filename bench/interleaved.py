#!/usr/bin/env python3
"""Times commands in turns (A, B, A, B...) rather than one after the other, so that the shared machine's changing
load falls on all of them alike; prints each one's median and mean and the ratio of the medians to the last.

Usage: interleaved.py RUNS NAME=COMMAND [NAME=COMMAND...]   (commands are split on spaces, run without a shell)
"""
import os
import statistics
import subprocess
import sys
import time


def main():
    runs = int(sys.argv[1])
    commands = [argument.split("=", 1) for argument in sys.argv[2:]]
    times = {name: [] for name, _ in commands}
    for round in range(runs + 3):  # three rounds to warm up
        for name, command in commands:
            start = time.perf_counter()
            subprocess.run(command.split(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            if round >= 3:
                times[name].append((time.perf_counter() - start) * 1000)
    last = statistics.median(times[commands[-1][0]])
    for name, _ in commands:
        median = statistics.median(times[name])
        print(f"{name}: median {median:.1f} ms, mean {statistics.mean(times[name]):.1f} ms, "
              f"{median / last:.2f} of the last")


if __name__ == "__main__":
    main()
