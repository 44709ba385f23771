"""Times commands against each other, the way this VM needs it.

compare.py [--pairs] NAME=COMMAND=>OUTPUT...

In every round each command runs once untimed, then after a pause (the VM hands freed memory
back to its host meanwhile, and writing into freshly returned memory is slow) once timed; its
output is removed after each run. An OUTPUT ending in "/" is a folder, made empty before each
run. The commands alternate within a round. Prints medians, ratios and peak memory: each
command's ratio to the first, or with --pairs the ratio of the first of each pair to the second
(the same work done by two tools).
"""
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = int(os.environ.get("ROUNDS", "7"))
PAUSE = float(os.environ.get("PAUSE", "2.5"))


def remove(output):
    if output.endswith("/"):
        shutil.rmtree(output, ignore_errors=True)
    else:
        try:
            os.remove(output)
        except FileNotFoundError:
            pass


def run(command, output):
    remove(output)
    if output.endswith("/"):
        os.makedirs(output)
    # GNU time reports the peak of the largest process among the command and its children; a
    # child forked from Python would count the interpreter's pages too.
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name]
                              + shlex.split(command))
        elapsed = time.perf_counter() - start
        peak = int(report.read().split()[-1])  # KiB
    if proc.returncode != 0:
        sys.exit(f"command failed ({proc.returncode}): {command}")
    remove(output)
    return elapsed, peak


def main():
    arguments = sys.argv[1:]
    pairs = bool(arguments) and arguments[0] == "--pairs"
    commands = []
    for arg in arguments[1 if pairs else 0:]:
        name, rest = arg.split("=", 1)
        command, output = rest.split("=>", 1)
        commands.append((name, command, output))
    times = {name: [] for name, _, _ in commands}
    peaks = {name: 0 for name, _, _ in commands}
    for _ in range(ROUNDS):
        for name, command, output in commands:
            run(command, output)
            time.sleep(PAUSE)
            elapsed, peak = run(command, output)
            times[name].append(elapsed)
            peaks[name] = max(peaks[name], peak)
    medians = {name: statistics.median(times[name]) for name, _, _ in commands}
    width = max(len(name) for name, _, _ in commands) + 1
    print(f"rounds: {ROUNDS}")
    print(f"{'command':{width}} {'median s':>9} {'min s':>7} {'max s':>7} "
          f"{'vs next' if pairs else 'ratio':>8} {'peak MiB':>9}")
    for i, (name, _, _) in enumerate(commands):
        if not pairs:
            ratio = f"{medians[name] / medians[commands[0][0]]:8.2f}"
        elif i % 2 == 0 and i + 1 < len(commands):
            ratio = f"{medians[name] / medians[commands[i + 1][0]]:8.2f}"
        else:
            ratio = ""
        print(f"{name:{width}} {medians[name]:9.3f} {min(times[name]):7.3f} "
              f"{max(times[name]):7.3f} {ratio:>8} {peaks[name] / 1024:9.1f}")


main()
