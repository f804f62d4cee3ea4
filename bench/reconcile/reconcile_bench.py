#!/usr/bin/env python3
"""How fast the index follows the disk, measured as a user runs lun.

On a copy of the benchmark corpus (bench/corpus/build_corpus.sh), with
lun --headless on a scratch home:
  1. the first full scan (time to "扫描完成");
  2. a restart with nothing changed: the start-up reconciliation's own time
     (the "核对完成" line of TamrixError.Log) and the wall time from start;
  3. 1% of the files changed while lun was stopped: the reconciliation's
     time, and the time from start until every changed file is found with
     its new text (asked through `lun search`, as a user would);
  4. lun running: 100 files changed one every 0.25 s; for each, the time
     from the change until `lun search` finds its new text, minus the change
     monitor's quiet period (5 s).
Usage: reconcile_bench.py [--bin build/release/bin] [--corpus /tmp/corpus]
"""
import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

QUIET_PERIOD_S = 5.0


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Lun:
    def __init__(self, bin_dir, home, env):
        self.bin, self.home, self.env = bin_dir, home, env
        self.proc = None

    def start(self):
        self.out = open(os.path.join(self.home, 'lun.out'), 'a')
        env = dict(self.env, LUN_CRAWL_PORT=str(free_port()))
        self.proc = subprocess.Popen(
            [os.path.join(self.bin, 'lun'), '--headless', '--home', self.home, '--port',
             str(free_port())], stdout=self.out, stderr=subprocess.STDOUT, env=env)
        return time.monotonic()

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=600)
        self.out.close()

    def output(self):
        with open(os.path.join(self.home, 'lun.out'), encoding='utf-8', errors='replace') as f:
            return f.read()

    def log(self):
        try:
            with open(os.path.join(self.home, 'TamrixError.Log'), encoding='utf-8',
                      errors='replace') as f:
                return f.read()
        except FileNotFoundError:
            return ''

    def search_paths(self, word):
        r = subprocess.run([os.path.join(self.bin, 'lun'), 'search', word, '--home', self.home,
                            '--files-only', '--limit', '100000'],
                           capture_output=True, text=True, env=self.env)
        return set(line for line in r.stdout.splitlines() if line.startswith('/'))


def wait_until(check, timeout, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(step)
    return None


def reconcile_lines(lun):
    return re.findall(r'核对完成: 比较 (\d+)，重新索引 (\d+)，移除 (\d+)，用时 ([\d.]+) 秒', lun.log())


def append_word(path, word):
    with open(path, 'a', encoding='utf-8') as f:
        f.write('\n' + word + '\n')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--bin', default='build/release/bin')
    ap.add_argument('--corpus', default='/tmp/corpus')
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix='lun-reconcile-', dir='/var/tmp')
    try:
        env = dict(os.environ, TMPDIR=os.path.join(work, 'tmp'), XDG_CONFIG_HOME=os.path.join(work, 'config'))
        os.makedirs(env['TMPDIR'])
        corpus = os.path.join(work, 'corpus')
        shutil.copytree(args.corpus, corpus)
        files = sorted(os.path.join(d, f) for d, _, fs in os.walk(corpus) for f in fs)
        home = os.path.join(work, 'home')
        os.makedirs(home)
        with open(os.path.join(home, 'Setting'), 'w', encoding='utf-8') as f:
            f.write('[检索设置]\n允许扫描=|%s|\n文档类型=|TXT|\nAutoStart=FALSE\n实时监控=TRUE\n'
                    '实时文件删除=TRUE\n' % corpus)
        lun = Lun(args.bin, home, env)
        print('files: %d, load average: %s' % (len(files), os.getloadavg()))

        t0 = lun.start()
        if not wait_until(lambda: '扫描完成' in lun.output(), 3600, 0.5):
            sys.exit('the first scan did not finish')
        print('first full scan: %.1f s' % (time.monotonic() - t0))
        lun.stop()

        t0 = lun.start()
        line = wait_until(lambda: len(reconcile_lines(lun)) >= 1 and reconcile_lines(lun)[0], 600)
        wall = time.monotonic() - t0
        print('unchanged restart: reconciliation %s s (compared %s, reindexed %s, removed %s), '
              'wall from start %.2f s' % (line[3], line[0], line[1], line[2], wall))
        lun.stop()

        changed = files[::100]
        for i, path in enumerate(changed):
            append_word(path, 'reconcilemark')
        t0 = lun.start()
        line = wait_until(lambda: len(reconcile_lines(lun)) >= 2 and reconcile_lines(lun)[1], 600)
        found = wait_until(lambda: len(lun.search_paths('reconcilemark')) >= len(changed), 600, 0.2)
        wall = time.monotonic() - t0
        print('%d files (1%%) changed while stopped: reconciliation %s s (compared %s, reindexed '
              '%s), all found %.2f s after start%s' % (len(changed), line[3], line[0], line[1], wall,
                                                      '' if found else ' (NOT all found)'))

        targets = files[50::len(files) // 100][:100]
        changed_at = {}
        found_at = {}
        for i, path in enumerate(targets):
            append_word(path, 'latencymark')
            changed_at[path] = time.monotonic()
            time.sleep(0.25)
            for p in lun.search_paths('latencymark'):
                found_at.setdefault(p, time.monotonic())
        wait_until(lambda: (found_at.update({p: found_at.get(p, time.monotonic())
                                            for p in lun.search_paths('latencymark')})
                            or len(found_at) >= len(targets)), 120, 0.1)
        lat = sorted(found_at[p] - changed_at[p] - QUIET_PERIOD_S for p in targets if p in found_at)
        print('change to found, after the %.0f s quiet period, over %d changes (%d found): '
              'p50 %.2f s, p95 %.2f s, max %.2f s' % (
                  QUIET_PERIOD_S, len(targets), len(lat), statistics.median(lat),
                  lat[int(len(lat) * 0.95) - 1], lat[-1]))
        lun.stop()
        print('load average after: %s' % (os.getloadavg(),))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
