"""Times commands against each other, the way this VM needs it.

Each argument is NAME=COMMAND=>OUTPUT. In every round each command runs once untimed, its
output is removed, then after a pause (the VM hands freed memory back to its host meanwhile, and
writing into freshly returned memory is slow) it runs timed and its output is removed again.
The commands alternate within a round. Prints medians, ratios to the first command and peak
memory.
"""
import os
import shlex
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = int(os.environ.get("ROUNDS", "7"))
PAUSE = float(os.environ.get("PAUSE", "2.5"))


def run(command):
    # GNU time reports the command's own peak memory; a child forked from Python would count
    # the interpreter's pages too.
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name]
                              + shlex.split(command))
        elapsed = time.perf_counter() - start
        if proc.returncode != 0:
            sys.exit(f"command failed: {command}")
        return elapsed, int(report.read().split()[-1])  # KiB


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def main():
    commands = []
    for arg in sys.argv[1:]:
        name, rest = arg.split("=", 1)
        command, output = rest.split("=>", 1)
        commands.append((name, command, output))
    times = {name: [] for name, _, _ in commands}
    peaks = {name: 0 for name, _, _ in commands}
    for _ in range(ROUNDS):
        for name, command, output in commands:
            run(command)
            remove(output)
            time.sleep(PAUSE)
            elapsed, peak = run(command)
            remove(output)
            times[name].append(elapsed)
            peaks[name] = max(peaks[name], peak)
    base = statistics.median(times[commands[0][0]])
    print(f"{'command':10} {'median s':>9} {'min s':>7} {'max s':>7} {'ratio':>6} {'peak MiB':>9}")
    for name, _, _ in commands:
        median = statistics.median(times[name])
        print(f"{name:10} {median:9.3f} {min(times[name]):7.3f} {max(times[name]):7.3f} "
              f"{median / base:6.2f} {peaks[name] / 1024:9.1f}")


main()
