#!/usr/bin/env python3
"""The index diagnosis: the page through `lun --headless` and HTTP, and
`lun --explain` asking the running lun and, once it has ended, reading the
index itself.

Usage: [LUN_DIAGNOSIS_SHOT=FILE.png] diagnosis_page_test.py PATH/TO/lun
With LUN_DIAGNOSIS_SHOT set the page is also shot with Chromium (to look at).
"""
import html
import os
import re
import subprocess
import sys
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "index_follows_disk"))
import session_test  # noqa: E402  (the scratch-home session and its page helpers)

WORD = "甲骨卜辞"
NEW_WORD = "金文铭刻"


def diagnosis(s, path, fields=None):
    return s.get("Diagnose.shl", "&path=" + urllib.parse.quote(path), fields)


def row(body, key):
    found = re.search(r'<tr id="d-%s"><th>[^<]*</th><td>([^<]*)</td></tr>' % key, body)
    return html.unescape(found.group(1)) if found else None


def verdict(body):
    found = re.search(r'id="verdict">([a-z_]+)<', body)
    return found.group(1) if found else None


def explain(s, path):
    done = subprocess.run([session_test.LUN, "--explain", path, "--home", s.home],
                          capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout.splitlines()


def test(s):
    root = s.roots[0]
    doc = os.path.join(root, "a.txt")
    s.write(doc, WORD + " 第一版\n")
    photo = os.path.join(root, "photo.jpg")
    with open(photo, "wb") as f:  # a picture's bytes: not admitted as text by its content
        f.write(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(range(256)))
    s.write_settings()
    s.start()
    session_test.until("first scan", lambda: s.shown(WORD) == [doc])

    # An indexed file: its record and the start of its text.
    indexed = diagnosis(s, doc)
    assert verdict(indexed) == "in_scope", indexed[-1500:]
    assert row(indexed, "records") == "1 条", row(indexed, "records")
    assert WORD in row(indexed, "text_start"), row(indexed, "text_start")
    assert 'id="indexnow"' in indexed
    # A type not chosen: said, and nothing to index.
    body = diagnosis(s, photo)
    assert verdict(body) == "type_not_chosen" and "|JPG|" in row(body, "scope"), body[-1500:]
    assert row(body, "records") == "没有" and 'id="indexnow"' not in body

    # The results page leads there when nothing is found; the home page too.
    nothing = s.get("Search.shl", "&SearchText=" + urllib.parse.quote("无此文字"))
    assert 'id="diagnose"' in nothing and "Diagnose.shl" in nothing
    assert "Diagnose.shl" in s.get("home.shl")

    # The terminal gives the same answer, asked of the running lun.
    rc, lines = explain(s, doc)
    assert rc == 0 and lines[:2] == [doc, "in_scope"], lines
    assert "索引记录: 1 条" in lines and any(WORD in line for line in lines), lines

    # Index it now: only with the form token; the answer shows the new text.
    s.write(doc, NEW_WORD + " 第二版\n")
    refused = diagnosis(s, doc, {"path": doc})
    assert "请求无效" in refused, refused[-1500:]
    token = re.search(r'name="token" value="([^"]+)"', indexed).group(1)
    done = diagnosis(s, doc, {"path": doc, "token": token})
    assert "已重新索引" in done and NEW_WORD in row(done, "text_start"), done[-1500:]
    assert row(done, "records") == "1 条", row(done, "records")
    refused = diagnosis(s, photo, {"path": photo, "token": token})
    assert "没有索引" in refused, refused[-1500:]

    if os.environ.get("LUN_DIAGNOSIS_SHOT"):
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                        "--window-size=1100,900", "--screenshot=" + os.environ["LUN_DIAGNOSIS_SHOT"],
                        s.url("Diagnose.shl", "&path=" + urllib.parse.quote(doc))],
                       check=False, capture_output=True, timeout=120)
    s.stop()

    # Without a running lun the index itself is read.
    rc, lines = explain(s, doc)
    assert rc == 0 and "索引记录: 1 条" in lines and any(NEW_WORD in line for line in lines), lines
    rc, lines = explain(s, photo)
    assert rc == 1 and lines[1] == "type_not_chosen" and "索引记录: 没有" in lines, lines
    return "diagnosis_page: ok"


if __name__ == "__main__":
    sys.exit(session_test.run(test))
