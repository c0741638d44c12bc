#!/usr/bin/env python3
"""`gifanim record` killed (SIGKILL) at a random moment while the X root window is painted a known
sequence of colours, then `gifanim recover` writes the GIF; giflib (tests/win32/gif_frames.c)
reads it back. A run counts as recovered when every colour shown at least a second before the kill
is there, in order, and nothing else is. The loss is the time recorded before the kill (from the
first grab) that the recovered GIF's delays do not hold.
  scripts/xvfb-run.sh bench/record_kill_bench.py [BUILD_DIR]   (default build/linux-release; RUNS=20)
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/linux-release")
TOOL = os.path.join(BUILD, "tools/gifanim")
RUNS = int(os.environ.get("RUNS", "20"))
COLOURS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (255, 0, 255), (0, 255, 255)]
HOLD = 0.3  # seconds a colour stays
FPS = 10


def paint(rgb):
    subprocess.run(["xsetroot", "-solid", "#%02x%02x%02x" % rgb], check=True)


def nearest(rgb):
    best, index = None, -1
    for i, c in enumerate(COLOURS):
        d = sum((a - b) ** 2 for a, b in zip(rgb, c))
        if best is None or d < best:
            best, index = d, i
    return index if best < 40 ** 2 else -1


def main():
    work = tempfile.mkdtemp(prefix="record-kill-")
    frames_tool = os.path.join(work, "gif_frames")
    subprocess.run(["cc", "-O1", "-o", frames_tool, os.path.join(ROOT, "tests/win32/gif_frames.c"), "-lgif"],
                   check=True)
    recovered, worst_loss = 0, 0.0
    rng = random.Random(int(os.environ.get("SEED", "1")))
    try:
        for run in range(RUNS):
            tmp = os.path.join(work, "t%d" % run)
            os.makedirs(tmp, mode=0o700)
            env = dict(os.environ, TMPDIR=tmp)
            paint(COLOURS[0])
            out = os.path.join(work, "out%d.gif" % run)
            child = subprocess.Popen([TOOL, "record", "-o", out, "--rect", "0,0,320,240", "--fps", str(FPS)],
                                     env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            while not os.listdir(tmp):
                time.sleep(0.002)
            started = time.monotonic() + 1.0 / FPS  # the first grab comes one interval after the start
            kill_after = rng.uniform(1.2, 4.0)
            shown = [(time.monotonic(), 0)]
            colour = 0
            while time.monotonic() - started < kill_after:
                time.sleep(min(HOLD, max(0.0, started + kill_after - time.monotonic())))
                if time.monotonic() - started >= kill_after:
                    break
                colour += 1
                paint(COLOURS[colour % len(COLOURS)])
                shown.append((time.monotonic(), colour))
            killed = time.monotonic()
            child.kill()
            child.wait()
            listing = subprocess.run([TOOL, "recover"], env=env, capture_output=True, text=True).stdout
            ok = False
            loss = killed - started
            if listing:
                path = listing.split("\t")[0]
                subprocess.run([TOOL, "recover", path, "-o", out], env=env, check=True, capture_output=True)
                lines = subprocess.run([frames_tool, out, "5,5"], capture_output=True, text=True,
                                       check=True).stdout.splitlines()
                got, held = [], 0
                for line in lines:
                    fields = line.split()
                    held += int(fields[0])
                    got.append(nearest(tuple(int(v) for v in fields[6].split(","))))
                # Consecutive equal colours would have merged; the painter never shows one twice in a row.
                expected = [c % len(COLOURS) for t, c in shown if t <= killed - 1.0]
                ok = got[:len(expected)] == expected and all(
                    g == c % len(COLOURS) for g, (t, c) in zip(got, shown))
                loss = (killed - started) - held / 100.0
            recovered += ok
            worst_loss = max(worst_loss, loss)
            print("run %2d: killed after %.2f s, %s, loss %d ms" % (run + 1, killed - started,
                                                                     "recovered" if ok else "NOT recovered",
                                                                     round(loss * 1000)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d/%d recovered, worst loss %d ms" % (recovered, RUNS, round(worst_loss * 1000)))


if __name__ == "__main__":
    main()
