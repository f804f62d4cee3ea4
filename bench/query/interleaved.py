#!/usr/bin/env python3
"""Interleaved query benchmark on the user's path, beside SQLite FTS5 trigram.

Runs the query set as a user's session would: every round takes all queries
in a seeded random order, and all rounds go to ONE `lundb query DB --stdin
--json` process (warm, queries alternating), then the same sequence to SQLite
FTS5 trigram in this process. Prints per class p50/p95 over every sample,
the all-query p95, the lundb process's peak RSS (wait4), the time from
starting lundb to its first answer, and whether every count is exact.

  interleaved.py --lundb BIN --db PROJECT.lun --fts FTS.db --queries Q --truth T
                 [--corpus DIR --manifest M]  (to build FTS.db when missing)
                 [--rounds 10] [--seed 1] [--table 文档] [--field 文本内容]

`wall` (the whole search call as lundb's caller waits for it) is the figure
reported for our engine; FTS5 is timed around its count statement.
"""
import argparse
import json
import os
import random
import sqlite3
import subprocess
import sys
import time

RESERVED = ' *+-()<>=[]{}:?'


def escape(text):
    return ''.join('%%0x00%02X%%' % ord(c) if c in RESERVED else c for c in text)


def read_tsv(path):
    rows = []
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if line and not line.startswith('#'):
                rows.append(line.split('\t'))
    return rows


def pct(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, len(v) * p // 100)]


def build_fts(path, corpus, manifest):
    db = sqlite3.connect(path)
    db.executescript("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                     "CREATE VIRTUAL TABLE docs USING fts5(name, body, tokenize='trigram');")
    start, size = time.perf_counter(), 0
    db.execute('BEGIN')
    for row in read_tsv(manifest):
        if row[0] == 'lang' or len(row) < 5:
            continue
        with open(os.path.join(corpus, row[4]), encoding='utf-8', errors='replace') as f:
            body = f.read()
        size += len(body.encode())
        db.execute('INSERT INTO docs(name, body) VALUES(?, ?)', (row[4], body))
    db.execute('COMMIT')
    db.close()
    secs = time.perf_counter() - start
    print('fts5 trigram build: %.1f s, %.2f MB/s' % (secs, size / 1e6 / secs))


def fts_count(db, q):
    # Fewer than 3 characters cannot match through the trigram index: a scan.
    if len(q) < 3:
        return db.execute('SELECT count(*) FROM docs WHERE instr(lower(body), lower(?)) > 0',
                          (q,)).fetchone()[0]
    return db.execute('SELECT count(*) FROM docs WHERE body MATCH ?',
                      ('"' + q.replace('"', '""') + '"',)).fetchone()[0]


def interleave(count, rounds, seed):
    """Every round takes all `count` queries in a seeded random order."""
    rnd = random.Random(seed)
    seq = []
    for _ in range(rounds):
        order = list(range(count))
        rnd.shuffle(order)
        seq += order
    return seq


def run_lundb(lundb, db, table, field, texts, keys):
    """Runs `texts` in one `lundb query --stdin --json` process. Returns
    ({key: [(count, wall ms)]}, seconds to the first answer, peak RSS MB,
    wait status)."""
    lines = ''.join('[%s]:%s=%s\n' % (table, field, escape(t)) for t in texts)
    start = time.perf_counter()
    p = subprocess.Popen([lundb, 'query', db, '--stdin', '--json'], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, text=True, encoding='utf-8')
    p.stdin.write(lines)
    p.stdin.close()
    first = p.stdout.readline()
    first_at = time.perf_counter() - start
    out = [first] + p.stdout.readlines()
    _, status, usage = os.wait4(p.pid, 0)
    results = {}
    for key, line in zip(keys, out):
        j = json.loads(line)
        results.setdefault(key, []).append((j['count'], j['wall'] * 1000))
    return results, first_at, usage.ru_maxrss / 1024, status


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--lundb', required=True)
    ap.add_argument('--db', required=True)
    ap.add_argument('--fts')
    ap.add_argument('--queries', required=True)
    ap.add_argument('--truth', required=True)
    ap.add_argument('--corpus')
    ap.add_argument('--manifest')
    ap.add_argument('--rounds', type=int, default=10)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--table', default='文档')
    ap.add_argument('--field', default='文本内容')
    a = ap.parse_args()

    queries = [r[:3] for r in read_tsv(a.queries) if len(r) >= 3]
    truth = {r[0]: (int(r[3]), int(r[4])) for r in read_tsv(a.truth) if len(r) >= 5 and r[0] != 'id'}
    seq = interleave(len(queries), a.rounds, a.seed)

    ours, first_at, rss_mb, status = run_lundb(a.lundb, a.db, a.table, a.field,
                                               [queries[i][2] for i in seq], seq)

    fts = {}
    if a.fts:
        if not os.path.exists(a.fts):
            build_fts(a.fts, a.corpus, a.manifest)
        db = sqlite3.connect(a.fts)
        for i in seq:
            t = time.perf_counter()
            n = fts_count(db, queries[i][2])
            fts.setdefault(i, []).append((n, (time.perf_counter() - t) * 1000))

    classes = {}
    exact = fts_exact = 0
    print('%-4s %-5s %-22s %7s %7s %8s %8s | %7s %8s' %
          ('id', 'class', 'query', 'truth', 'lun', 'p50', 'p95', 'fts5tri', 'p50'))
    for i, (qid, cls, text) in enumerate(queries):
        docs, engine_docs = truth.get(qid, (-1, -1))
        counts = {c for c, _ in ours[i]}
        ok = counts == {engine_docs}
        exact += ok
        ms = [m for _, m in ours[i]]
        line = '%-4s %-5s %-22s %7d %7s%s %8.3f %8.3f' % (
            qid, cls, text, engine_docs, ','.join(map(str, counts)), ' ' if ok else '!',
            pct(ms, 50), pct(ms, 95))
        c = classes.setdefault(cls, {'lun': [], 'fts': []})
        c['lun'] += ms
        if i in fts:
            fms = [m for _, m in fts[i]]
            fok = {n for n, _ in fts[i]} == {docs}
            fts_exact += fok
            c['fts'] += fms
            line += ' | %7d%s %8.3f' % (fts[i][0][0], ' ' if fok else '!', pct(fms, 50))
        print(line)
    print('\nclass  lun p50 / p95 ms      fts5 trigram p50 / p95 ms  (every sample of the class)')
    for cls, c in sorted(classes.items()):
        f = ' %9.3f / %9.3f' % (pct(c['fts'], 50), pct(c['fts'], 95)) if c['fts'] else ''
        print('%-5s  %9.3f / %9.3f  %s' % (cls, pct(c['lun'], 50), pct(c['lun'], 95), f))
    all_lun = [m for c in classes.values() for m in c['lun']]
    all_fts = [m for c in classes.values() for m in c['fts']]
    print('all    p95 lun %.3f ms%s' % (pct(all_lun, 95),
                                        ', fts5 trigram %.3f ms' % pct(all_fts, 95) if all_fts else ''))
    print('lundb: first answer %.1f ms after start, peak RSS %.0f MB, exit %d, exact %d/%d%s' %
          (first_at * 1000, rss_mb, os.waitstatus_to_exitcode(status), exact, len(queries),
           ', fts5 trigram exact %d/%d' % (fts_exact, len(queries)) if fts else ''))
    print('load: %s' % os.getloadavg().__repr__())
    return 0 if exact == len(queries) else 1


if __name__ == '__main__':
    sys.exit(main())
