#!/usr/bin/env python3
"""A seeded random user session against `lun --headless` on a scratch home.

Usage: session_test.py PATH/TO/lun [SEED] [FILES]

Every file holds a few words of a small vocabulary. After each batch of
operations the test asks the search page (over HTTP, as a user) for every
word and compares the paths shown with the files on disk that hold it: no
missing hit, no hit on a file that no longer holds the word, no path twice.
It polls until they agree (up to a generous bound, never a fixed wait) and
reports the slowest convergence.
"""
import html
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

LUN = sys.argv[1]
SEED = int(sys.argv[2]) if len(sys.argv) > 2 else 17
FILES = int(sys.argv[3]) if len(sys.argv) > 3 else 300
CONVERGE_LIMIT_S = 240
WORDS = ["甲骨文字", "青铜器皿", "竹简帛书", "碑刻拓片", "敦煌写本", "宋版古籍", "活字印刷", "雕版年画"]
rng = random.Random(SEED)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Session:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="lun-session-")
        self.home = os.path.join(self.dir, "home")
        self.roots = [os.path.join(self.dir, "root1")]
        self.outside = os.path.join(self.dir, "outside")
        for d in (self.home, self.roots[0], self.outside):
            os.makedirs(d)
        self.proc = None
        self.port = None
        self.code = None
        self.counter = 0
        self.slowest = 0.0
        self.batches = 0
        self.crawl_port = free_port()

    # ---- settings and the process
    def write_settings(self, scanned=False):
        """The settings file (lun keeps it packed, so it is written whole; a
        later write keeps the version and the finished first scan, as the
        settings window would)."""
        extra = "VERSION=0.7020051220\n完成全面扫描=TRUE\n" if scanned else ""
        with open(os.path.join(self.home, "Setting"), "w", encoding="utf-8") as f:
            f.write("[检索设置]\n允许扫描=|%s|\n文档类型=|TXT|\nAutoStart=FALSE\n"
                    "实时文件删除=TRUE\n每页记录数=200\n%s" % ("|".join(self.roots), extra))

    def start(self):
        self.port = free_port()
        env = dict(os.environ, TMPDIR=os.path.join(self.dir, "tmp"),
                   LUN_CRAWL_PORT=str(self.crawl_port), XDG_CONFIG_HOME=os.path.join(self.dir, "cfg"))
        os.makedirs(env["TMPDIR"], exist_ok=True)
        self.out = open(os.path.join(self.dir, "out"), "a")
        self.proc = subprocess.Popen([LUN, "--headless", "--home", self.home, "--port", str(self.port)],
                                     stdout=self.out, stderr=subprocess.STDOUT, env=env)
        deadline = time.time() + 120
        while time.time() < deadline:
            text = open(os.path.join(self.dir, "out"), encoding="utf-8", errors="replace").read()
            found = re.findall(r"http://127\.0\.0\.1:(\d+)/LUN/home\.shl\?IDCODE=([0-9A-F-]+)", text)
            if found and self.proc.poll() is None:
                self.port, self.code = int(found[-1][0]), found[-1][1]
                # the address of this run, not of an earlier one
                if text.count("搜索页面") >= self.starts + 1:
                    self.starts += 1
                    return
            time.sleep(0.2)
        raise RuntimeError("lun did not start")

    starts = 0

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=120)

    def kill(self):
        self.proc.kill()
        self.proc.wait()

    # ---- files
    def new_path(self, directory):
        self.counter += 1
        return os.path.join(directory, "f%d.txt" % self.counter)

    def content(self):
        return " ".join(rng.sample(WORDS, rng.randint(1, 3))) + " 第%d号\n" % rng.randint(0, 1 << 30)

    def files(self):
        out = []
        for root in self.roots:
            for d, _, names in os.walk(root):
                out += [os.path.join(d, n) for n in names]
        return out

    def dirs(self):
        out = []
        for root in self.roots:
            out += [d for d, _, _ in os.walk(root)]
        return out

    def write(self, path, text=None):
        with open(path, "w", encoding="utf-8") as f:
            f.write(self.content() if text is None else text)

    def operation(self):
        files, dirs = self.files(), self.dirs()
        op = rng.choice(["create", "create", "modify", "delete", "rename", "move", "mkdir",
                         "rmdir", "mvdir", "pieces", "movein"])
        if op == "create" or not files:
            self.write(self.new_path(rng.choice(dirs)))
        elif op == "modify":
            self.write(rng.choice(files))
        elif op == "delete":
            os.unlink(rng.choice(files))
        elif op == "rename":
            f = rng.choice(files)
            os.rename(f, self.new_path(os.path.dirname(f)))
        elif op == "move":
            os.rename(rng.choice(files), self.new_path(rng.choice(dirs)))
        elif op == "mkdir":
            d = os.path.join(rng.choice(dirs), "d%d" % self.counter, "n%d" % self.counter)
            self.counter += 1
            os.makedirs(d)
            for _ in range(rng.randint(1, 4)):
                self.write(self.new_path(d))
        elif op == "rmdir":
            candidates = [d for d in dirs if d not in self.roots]
            if candidates:
                shutil.rmtree(rng.choice(candidates))
        elif op == "mvdir":
            candidates = [d for d in dirs if d not in self.roots]
            if candidates:
                src = rng.choice(candidates)
                targets = [d for d in dirs if not (d + "/").startswith(src + "/")]
                self.counter += 1
                os.rename(src, os.path.join(rng.choice(targets), "m%d" % self.counter))
        elif op == "pieces":
            path = self.new_path(rng.choice(dirs))
            with open(path, "w", encoding="utf-8") as f:
                for word in rng.sample(WORDS, 3):
                    f.write(word + " ")
                    f.flush()
                    time.sleep(0.3)
        elif op == "movein":
            d = os.path.join(self.outside, "o%d" % self.counter)
            os.makedirs(os.path.join(d, "inner"))
            self.write(self.new_path(os.path.join(d, "inner")))
            os.rename(d, os.path.join(rng.choice(dirs), os.path.basename(d)))

    # ---- truth and what the pages show
    def truth(self):
        want = {w: set() for w in WORDS}
        for f in self.files():
            try:
                text = open(f, encoding="utf-8").read()
            except OSError:
                continue
            for w in WORDS:
                if w in text:
                    want[w].add(f)
        return want

    # ---- pages
    def url(self, page, query=""):
        """The address of a page of this run, with its session code."""
        return "http://127.0.0.1:%d/LUN/%s?IDCODE=%s%s" % (self.port, page, self.code, query)

    def get(self, page, query="", fields=None):
        """The page's HTML; with `fields`, the answer to posting them as a form."""
        data = urllib.parse.urlencode(fields).encode() if fields is not None else None
        answer = urllib.request.urlopen(self.url(page, query), data=data, timeout=60)
        return answer.read().decode("utf-8", "replace")

    def shown(self, word):
        paths, page = [], 1
        while True:
            query = urllib.parse.urlencode({"SearchText": word, "IDCODE": self.code, "Page": page})
            url = "http://127.0.0.1:%d/LUN/Search.shl?%s" % (self.port, query)
            body = urllib.request.urlopen(url, timeout=60).read().decode("utf-8", "replace")
            rows = [html.unescape(p) for p in re.findall(r'<span class="path" title="([^"]*)"', body)]
            paths += rows
            if len(rows) < 200:
                return paths
            page += 1

    def differences(self):
        problems = []
        for word, files in self.truth().items():
            got = self.shown(word)
            if len(got) != len(set(got)):
                problems.append("%s: a path twice" % word)
            missing, extra = files - set(got), set(got) - files
            if missing:
                problems.append("%s: missing %s" % (word, sorted(missing)[:3]))
            if extra:
                problems.append("%s: not on disk %s" % (word, sorted(extra)[:3]))
        return problems

    def converge(self, label, since):
        problems = []
        while time.time() - since < CONVERGE_LIMIT_S:
            problems = self.differences()
            if not problems:
                took = time.time() - since
                self.slowest = max(self.slowest, took)
                self.batches += 1
                print("batch %-28s converged in %5.1f s" % (label, took), flush=True)
                return
            time.sleep(0.5)
        raise AssertionError("%s: no convergence in %d s: %s" % (label, CONVERGE_LIMIT_S, problems[:6]))

    def batch(self, label, operations):
        for _ in range(operations):
            self.operation()
        self.converge(label, time.time())


def until(label, check, limit_s=CONVERGE_LIMIT_S):
    """Polls `check` until it is true; fails after `limit_s` seconds."""
    since = time.time()
    while time.time() - since < limit_s:
        if check():
            return
        time.sleep(0.5)
    raise AssertionError("%s: not reached in %d s" % (label, limit_s))


def run(body):
    """Runs body(session) on a fresh scratch home and prints what it returns;
    on a failure prints it with the end of lun's output. The exit status."""
    s = Session()
    try:
        print(body(s))
        return 0
    except Exception as e:  # report, keep the output for diagnosis
        print("FAIL:", repr(e))
        print(open(os.path.join(s.dir, "out"), encoding="utf-8", errors="replace").read()[-3000:])
        if s.proc and s.proc.poll() is None:
            s.kill()
        return 1
    finally:
        shutil.rmtree(s.dir, ignore_errors=True)


def session(s):
    for i in range(FILES):
        d = os.path.join(s.roots[0], "a%d" % (i % 9), "b%d" % (i % 4))
        os.makedirs(d, exist_ok=True)
        s.write(s.new_path(d))
    s.write_settings()
    s.start()
    s.converge("first scan", time.time())
    for b in range(4):
        s.batch("work %d" % (b + 1), 25)
    # Changes while lun is stopped.
    s.stop()
    for _ in range(30):
        s.operation()
    stopped_at = time.time()
    s.start()
    s.converge("changed while stopped", stopped_at)
    # A second root, added in the settings, then a restart.
    second = os.path.join(s.dir, "root2")
    os.makedirs(os.path.join(second, "x"))
    for _ in range(20):
        s.write(s.new_path(os.path.join(second, "x")))
    s.stop()
    s.roots.append(second)
    s.write_settings(scanned=True)
    added_at = time.time()
    s.start()
    s.converge("second root", added_at)
    s.batch("work with two roots", 25)
    # kill -9 in the middle of a batch.
    for _ in range(12):
        s.operation()
    s.kill()
    for _ in range(12):
        s.operation()
    killed_at = time.time()
    s.start()
    s.converge("after kill -9", killed_at)
    s.batch("work after the kill", 25)
    s.stop()
    return "index_follows_disk: %d batches, slowest convergence %.1f s (seed %d)" % (
        s.batches, s.slowest, SEED)


if __name__ == "__main__":
    sys.exit(run(session))
