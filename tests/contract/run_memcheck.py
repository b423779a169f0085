#!/usr/bin/env python3
"""Runs a program under valgrind's memcheck and passes its verdict on, except
when valgrind cannot run the program at all on this processor: valgrind 3.19
stops with SIGILL on instructions it does not know (on some AMD processors, in
libhwy's initialiser, which OpenCV's image codecs load) before the program's
main. Then the check is skipped with that reason, written where the test
command's summary prints it, instead of failing for the processor model.

usage: run_memcheck.py REASON_FILE VALGRIND [VALGRIND_OPTIONS...] -- PROGRAM [ARGS...]"""
import re
import subprocess
import sys

SKIPPED = 77


def main():
    reason_file, command = sys.argv[1], sys.argv[2:]
    if "--" not in command:
        print("run_memcheck.py: the program follows --", file=sys.stderr)
        return 2
    split = command.index("--")
    run = subprocess.run(command[:split] + command[split + 1:], capture_output=True, text=True, errors="replace")
    sys.stdout.write(run.stdout)
    sys.stderr.write(run.stderr)
    started = "Running main()" in run.stdout or "[==========]" in run.stdout
    illegal = re.search(r"signal 4 \(SIGILL\)", run.stderr)
    if run.returncode != 0 and illegal and not started:
        where = re.search(r"unhandled instruction bytes: ([0-9A-Fa-fx ]+)", run.stderr)
        library = re.search(r"by 0x[0-9A-F]+: .* \(in ([^)]+)\)", run.stderr) or re.search(
            r"at 0x[0-9A-F]+: .* \(in ([^)]+)\)", run.stderr)
        reason = "valgrind cannot run the program on this processor: SIGILL before main"
        if library:
            reason += " in " + library.group(1)
        if where:
            reason += " (instruction bytes " + where.group(1).strip() + ")"
        with open(reason_file, "w", encoding="utf-8") as handle:
            handle.write(reason + "\n")
        print("skipped: " + reason)
        return SKIPPED
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
