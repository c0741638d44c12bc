#!/usr/bin/env python3
"""How close `gifanim make --estimate` comes on parts of the bench's recordings.

For seq720 (the corpus, 60 frames of 1280x720) and xrec (xterm and xclock on Xvfb, 80 frames of
1024x768, as bench/optimize_vs_peers.sh records them): the first and the last 24, 30, 36, 48 and 60
frames, each as they are, with --scale 50% and with --max-fps 5, plain and --optimize; for each the
estimate against the size `gifanim make --delay 10` writes. Prints every case, then per mode the
mean and worst error, how many are more than 10 % off, and the mean time of an estimate.
    bench/estimate_sweep.py [BUILD_DIR]     (default build/linux-release)
"""
import glob
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build', 'linux-release'))
TOOL = os.path.join(BUILD, 'tools', 'gifanim')
if not os.access(TOOL, os.X_OK):
    sys.exit('no %s; build the linux-release preset first' % TOOL)
corpus = os.environ.get('GIFANIM_CORPUS') or subprocess.run(
    [os.path.join(ROOT, 'scripts', 'corpus.sh')], capture_output=True, text=True, check=True).stdout.strip()
xrec = os.path.join(BUILD, 'bench-results', 'optimize_vs_peers', 'inputs', 'xrec', 'jpg')
if not os.path.isdir(xrec):
    subprocess.run([os.path.join(ROOT, 'bench', 'optimize_vs_peers.sh'), BUILD], check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, SETS='xrec', TABLES='jpeg', ROUNDS='1'))
sets = {'seq720': sorted(glob.glob(os.path.join(corpus, 'seq720', 'jpg', '*.jpg'))),
        'xrec': sorted(glob.glob(os.path.join(xrec, '*.jpg')))}
variants = [[], ['--scale', '50%'], ['--max-fps', '5']]

with tempfile.TemporaryDirectory() as work:
    out = os.path.join(work, 'out.gif')
    results = {'plain': [], 'optimize': []}
    print('%-7s %-9s %-13s %-9s %10s %10s %7s' % ('set', 'frames', 'options', 'mode', 'written', 'estimate', 'error'))
    for name, frames in sets.items():
        for n in (24, 30, 36, 48, 60):
            for part, chosen in (('first', frames[:n]), ('last', frames[-n:])):
                for variant in variants:
                    for mode, flags in (('plain', []), ('optimize', ['--optimize'])):
                        command = [TOOL, 'make', '--delay', '10'] + flags + variant + ['-o', out]
                        subprocess.run(command + chosen, check=True)
                        written = os.path.getsize(out)
                        start = time.perf_counter()
                        said = subprocess.run(command[:-2] + ['--estimate', '-o', out] + chosen, check=True,
                                              capture_output=True, text=True).stdout.split()
                        seconds = time.perf_counter() - start
                        estimate = int(said[1])
                        error = (estimate - written) * 100 / written
                        results[mode].append((error, seconds))
                        print('%-7s %-9s %-13s %-9s %10d %10d %+6.1f%%' %
                              (name, '%s %d' % (part, n), ' '.join(variant) or '-', mode, written, estimate, error))
    for mode, rows in results.items():
        errors = [abs(e) for e, _ in rows]
        print('%s: %d cases, mean |error| %.2f %%, worst %.1f %%, %d more than 10 %% off, %.0f ms an estimate' %
              (mode, len(rows), sum(errors) / len(errors), max(errors), sum(1 for e in errors if e > 10),
               1000 * sum(s for _, s in rows) / len(rows)))
