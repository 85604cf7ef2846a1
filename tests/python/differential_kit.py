"""Runs a differential driver (tests/cpp/driver_*.cpp): one process takes every chunk of cases."""

import queue
import subprocess
import threading


def run_driver(driver, ops, chunks):
    """Sends each chunk ({op: [(line, want)]}) to `driver` and compares its answers.

    Returns per operation (cases checked, up to five mismatches as (line, want, have))."""
    checked = {op: 0 for op in ops}
    mismatches = {op: [] for op in ops}
    proc = subprocess.Popen([str(driver)], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    pending = queue.Queue(maxsize=2)

    def feed():  # a separate writer, so a full output pipe never blocks our input
        while (data := pending.get()) is not None:
            proc.stdin.write(data)
            proc.stdin.flush()
        proc.stdin.close()

    writer = threading.Thread(target=feed, daemon=True)
    writer.start()
    try:
        for cases in chunks:
            rows = [(op, line, want) for op in ops for line, want in cases.get(op, ())]
            pending.put(("\n".join(line for _, line, _ in rows) + "\nsync\n").encode())
            for op, line, want in rows:
                have = proc.stdout.readline().decode().rstrip("\n")
                checked[op] += 1
                if have != want and len(mismatches[op]) < 5:
                    mismatches[op].append((line, want, have))
            assert proc.stdout.readline() == b"sync\n"
    finally:
        pending.put(None)
        writer.join(timeout=60)
        proc.stdout.close()
        proc.wait(timeout=60)
    return checked, mismatches
