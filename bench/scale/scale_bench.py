#!/usr/bin/env python3
"""Scale benchmark: a seeded synthetic corpus of N documents through the user's path.

Generates N text files (Chinese, English and mixed documents; words and
characters drawn from Zipf distributions, lengths log-normal), builds a
project with `lundb create/table/load` (build time, MB/s, stored size, peak
RSS of the load), then runs a query set interleaved in one `lundb query
--stdin --json` process (p50/p95 per class over every sample, all-query
p95, peak RSS of the query process) and checks every count against a scan
of the generated texts made while generating them.

  scale_bench.py --lundb BIN --docs N --work DIR [--seed 1] [--mean-bytes 3000]
                 [--rounds 5] [--keep]

The text holds lower-case letters, digits, simplified Chinese, blanks and
line breaks only, so the engine's normalised count of a query equals a plain
substring count with each blank of the query matching any one character.
"""
import argparse
import bisect
import itertools
import math
import os
import random
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'query'))
import interleaved  # noqa: E402

ENGLISH_TOP = ('the of and to in is for that on with as by this it be are from at or an not '
               'file system data kernel memory page table device user process thread lock '
               'value function return error command line config server client buffer cache '
               'network driver module option string number list time mutex database').split()
LETTERS = 'etaoinshrdlcumwfgypbvkjxqz'
LETTER_WEIGHTS = [12.7, 9.1, 8.2, 7.5, 7.0, 6.7, 6.3, 6.1, 6.0, 4.3, 4.0, 2.8, 2.8, 2.4, 2.4,
                  2.2, 2.0, 2.0, 1.9, 1.5, 1.0, 0.8, 0.15, 0.15, 0.1, 0.07]


class Zipf:
    def __init__(self, n, s, rnd):
        weights = [1.0 / (k + 1) ** s for k in range(n)]
        self.cum = list(itertools.accumulate(weights))
        self.rnd = rnd

    def rank(self):
        return bisect.bisect(self.cum, self.rnd.random() * self.cum[-1])


def make_vocabulary(rnd, n):
    words, seen = list(ENGLISH_TOP), set(ENGLISH_TOP)
    while len(words) < n:
        length = max(2, min(14, int(rnd.gauss(6.5, 2.5))))
        w = ''.join(rnd.choices(LETTERS, LETTER_WEIGHTS, k=length))
        if rnd.random() < 0.03:
            w += str(rnd.randrange(100))  # names with digits: v2, utf8, x86
        if w not in seen and 'xyzzy' not in w:
            seen.add(w)
            words.append(w)
    return words


def make_hanzi(rnd, n):
    chars = [chr(c) for c in range(0x4E00, 0x9FA6)]
    rnd.shuffle(chars)
    return chars[:n]


class Generator:
    def __init__(self, seed, mean_bytes):
        self.rnd = random.Random(seed)
        self.words = make_vocabulary(self.rnd, 60000)
        self.hanzi = make_hanzi(self.rnd, 4000)
        self.word_rank = Zipf(len(self.words), 1.05, self.rnd)
        self.han_rank = Zipf(len(self.hanzi), 0.95, self.rnd)
        # Chinese words: frequent pairs and triples of characters.
        self.zh_words = [''.join(self.hanzi[self.han_rank.rank()] for _ in range(self.rnd.choice((2, 2, 3, 4))))
                         for _ in range(20000)]
        self.zh_rank = Zipf(len(self.zh_words), 1.0, self.rnd)
        self.mu = math.log(mean_bytes) - 0.5

    def english(self, units):
        out, line = [], 0
        for _ in range(units):
            out.append(self.words[self.word_rank.rank()])
            line += 1
            out.append('\n' if line % 14 == 0 else ' ')
        return ''.join(out)

    def chinese(self, units):
        out = []
        for k in range(units):
            out.append(self.zh_words[self.zh_rank.rank()] if self.rnd.random() < 0.6
                       else self.hanzi[self.han_rank.rank()])
            if k % 30 == 29:
                out.append('\n')
        return ''.join(out)

    def document(self):
        size = int(self.rnd.lognormvariate(self.mu, 1.0)) + 40
        kind = self.rnd.random()
        if kind < 0.4:
            return self.english(size // 7)
        if kind < 0.8:
            return self.chinese(size // 7)
        parts = []
        while sum(len(p) for p in parts) * 2 < size:
            parts.append(self.english(20) if self.rnd.random() < 0.5 else self.chinese(15))
            parts.append(' ')
        return ''.join(parts)

    def queries(self):
        """(id, class, text) for each class, from the generator's own ranks."""
        w, z, h = self.words, self.zh_words, self.hanzi
        q = []
        for r in (0, 3, 40, 400, 4000, 30000):
            q.append(('en1', w[r]))
        for r in ((0, 1), (12, 40), (50, 7), (200, 300)):
            q.append(('en2', w[r[0]] + ' ' + w[r[1]]))
        for r in (0, 30, 300):
            q.append(('zh1', h[r]))
        for r in (0, 20, 500, 3000):
            q.append(('zh2', z[r][:2]))
        for r in (0, 5, 100, 2000):
            q.append(('zh34', z[r] + z[r + 1][:1]))
        q.append(('none', 'xyzzyplugh'))
        q.append(('none', h[3990] + h[3991] + h[3992]))
        return [('s%02d' % (i + 1), c, t) for i, (c, t) in enumerate(q)]


def matcher(text):
    # A blank of the query stands for any one character.
    return re.compile('.'.join(re.escape(p) for p in text.split(' ')), re.S)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--lundb', required=True)
    ap.add_argument('--docs', type=int, required=True)
    ap.add_argument('--work', required=True)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--mean-bytes', type=int, default=3000)
    ap.add_argument('--rounds', type=int, default=5)
    ap.add_argument('--keep', action='store_true', help='keep the generated files')
    a = ap.parse_args()

    gen = Generator(a.seed, a.mean_bytes)
    queries = gen.queries()
    patterns = [matcher(t) for _, _, t in queries]
    truth = [0] * len(queries)
    shutil.rmtree(a.work, ignore_errors=True)
    files = os.path.join(a.work, 'files')
    start, total = time.perf_counter(), 0
    for d in range(a.docs):
        text = gen.document()
        for i, p in enumerate(patterns):
            truth[i] += p.search(text) is not None
        folder = os.path.join(files, '%04d' % (d // 1000))
        if d % 1000 == 0:
            os.makedirs(folder)
        with open(os.path.join(folder, '%d.txt' % d), 'w', encoding='utf-8') as f:
            f.write(text)
        total += len(text.encode())
    print('generated %d documents, %.1f MB in %.0f s' % (a.docs, total / 1e6, time.perf_counter() - start))

    db = os.path.join(a.work, 'db', 'local.db')
    run = lambda *args: subprocess.run([a.lundb, *args], check=True, capture_output=True, text=True)
    run('create', db)
    run('table', db, '文档', '文件名称:text:word', '完整路径:text:exact', '文本内容:text:word',
        '文件大小:integer', '修改时间:date')
    start = time.perf_counter()
    p = subprocess.Popen([a.lundb, 'load', db, '文档', files], stdout=subprocess.PIPE, text=True)
    out = p.stdout.read()
    _, status, usage = os.wait4(p.pid, 0)
    secs = time.perf_counter() - start
    stored = sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(os.path.dirname(db)) for f in fs)
    print('lundb load: %s' % out.strip())
    print('build %.1f s (%.2f MB/s), stored %.2fx, peak RSS %.0f MB, exit %d' %
          (secs, total / 1e6 / secs, stored / total, usage.ru_maxrss / 1024,
           os.waitstatus_to_exitcode(status)))
    if not a.keep:
        shutil.rmtree(files)

    seq = interleaved.interleave(len(queries), a.rounds, a.seed)
    res, first_at, rss, status = interleaved.run_lundb(a.lundb, db, '文档', '文本内容',
                                                       [queries[i][2] for i in seq], seq)
    classes, exact = {}, 0
    for i, (qid, cls, text) in enumerate(queries):
        counts = {c for c, _ in res[i]}
        ms = [m for _, m in res[i]]
        ok = counts == {truth[i]}
        exact += ok
        classes.setdefault(cls, []).extend(ms)
        print('%-4s %-5s %-28s %8d %8s%s %9.3f %9.3f' % (qid, cls, text, truth[i], ','.join(map(str, counts)),
                                                       ' ' if ok else '!', interleaved.pct(ms, 50),
                                                       interleaved.pct(ms, 95)))
    for cls, ms in sorted(classes.items()):
        print('class %-5s p50 %9.3f ms  p95 %9.3f ms' % (cls, interleaved.pct(ms, 50), interleaved.pct(ms, 95)))
    all_ms = [m for ms in classes.values() for m in ms]
    print('N=%d all-query p95 %.3f ms, first answer %.0f ms after start, query RSS %.0f MB, exact %d/%d, load %s' %
          (a.docs, interleaved.pct(all_ms, 95), first_at * 1000, rss, exact, len(queries), os.getloadavg()))
    return 0 if exact == len(queries) else 1


if __name__ == '__main__':
    sys.exit(main())
