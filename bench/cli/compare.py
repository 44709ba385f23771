"""Times commands whose outputs are folders, the way this VM needs it.

Each argument is NAME=COMMAND=>OUTPUT_FOLDER. In every round each command runs once untimed,
then after a pause (the VM hands freed memory back to its host meanwhile, and writing into
freshly returned memory is slow) once timed; its output folder is made empty before each run
and removed after it. Commands alternate within a round. Prints medians, the ratio of each
command to the one after it (tolvex-cli against openssl on the same files) and peak memory.
"""
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = int(os.environ.get("ROUNDS", "5"))
PAUSE = float(os.environ.get("PAUSE", "2.5"))


def run(command, output):
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    # GNU time reports the largest process's peak among the command and its children.
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name]
                              + shlex.split(command))
        elapsed = time.perf_counter() - start
        peak = int(report.read().split()[-1])
    if proc.returncode != 0:
        sys.exit(f"command failed ({proc.returncode}): {command}")
    shutil.rmtree(output)
    return elapsed, peak


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
            run(command, output)
            time.sleep(PAUSE)
            elapsed, peak = run(command, output)
            times[name].append(elapsed)
            peaks[name] = max(peaks[name], peak)
    print(f"rounds: {ROUNDS}")
    print(f"{'command':14} {'median s':>9} {'min s':>7} {'max s':>7} {'vs next':>8} {'peak MiB':>9}")
    for i, (name, _, _) in enumerate(commands):
        median = statistics.median(times[name])
        ratio = ""
        if i % 2 == 0 and i + 1 < len(commands):
            ratio = f"{median / statistics.median(times[commands[i + 1][0]]):8.2f}"
        print(f"{name:14} {median:9.3f} {min(times[name]):7.3f} {max(times[name]):7.3f} "
              f"{ratio:>8} {peaks[name] / 1024:9.1f}")


main()
