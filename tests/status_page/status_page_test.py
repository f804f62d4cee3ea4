#!/usr/bin/env python3
"""The index status page, through `lun --headless` and HTTP.

Usage: [LUN_STATUS_SHOT=FILE.png] status_page_test.py PATH/TO/lun
With LUN_STATUS_SHOT set the page is also shot with Chromium (to look at).
"""
import html
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "index_follows_disk"))
import session_test  # noqa: E402  (the scratch-home session and its page helpers)

WORD = "青铜器皿"


def text_of(body):
    return html.unescape(re.sub(r"<[^>]+>", " ", body))


def test(s):
    root = s.roots[0]
    os.makedirs(os.path.join(root, "sub"))
    s.write(os.path.join(root, "a.txt"), WORD + " 一\n")
    s.write(os.path.join(root, "sub", "b.txt"), WORD + " 二\n")
    big = os.path.join(root, "sub", "big.txt")
    with open(big, "wb") as f:
        f.truncate(21 * 1024 * 1024)  # over the 20 MiB limit: indexed by name only
    s.write_settings()
    s.start()
    session_test.until("first scan", lambda: len(s.shown(WORD)) == 2)
    # A start after the first scan reconciles the roots: their counts appear.
    s.stop()
    s.write_settings(scanned=True)
    s.start()
    session_test.until("roots reconciled", lambda: "尚未核对" not in s.get("Status.shl"))
    # The list is of this run: the file over the limit is met again when
    # it changes.
    with open(big, "ab") as f:
        f.write(b"x")
    session_test.until("over-size file listed", lambda: big in text_of(s.get("Status.shl")))

    body = s.get("Status.shl")
    assert re.search(r"<tr><td>文档</td><td>3</td></tr>", body), re.findall(r"<tr>.*?</tr>", body)[:10]
    roots = re.search(r'<table class="grid" id="roots">.*?</table>', body, re.S).group(0)
    assert re.search(r"<td>%s</td><td>3</td><td>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d</td>" % re.escape(root),
                     roots), roots
    assert "超过 20 MiB (只按名称索引): <b>1</b>" in body, body
    watched = int(re.search(r'id="watched">(\d+)<', body).group(1))
    assert watched >= 2, watched  # root and root/sub
    assert 'id="queue">' in body and 'id="indexsize">' in body and 'id="disk">' in body
    assert "Status.shl" in s.get("home.shl"), "the home page links the status page"

    # Pause and resume: only with the form token.
    refused = s.get("Status.shl", fields={"action": "pause"})
    assert "请求无效" in refused and 'id="pause"' in refused, text_of(refused)[-800:]
    token = re.search(r'name="token" value="([^"]+)"', body).group(1)
    paused = s.get("Status.shl", fields={"action": "pause", "token": token})
    assert "索引已暂停" in paused and 'id="resume"' in paused, text_of(paused)[-800:]
    assert "已暂停" in s.get("Status.shl")
    resumed = s.get("Status.shl", fields={"action": "resume", "token": token})
    assert "索引已继续" in resumed and 'id="pause"' in resumed, text_of(resumed)[-800:]

    if os.environ.get("LUN_STATUS_SHOT"):
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                        "--window-size=1100,1400", "--screenshot=" + os.environ["LUN_STATUS_SHOT"],
                        s.url("Status.shl")], check=False, capture_output=True, timeout=120)
    s.stop()
    return "status_page: ok"


if __name__ == "__main__":
    sys.exit(session_test.run(test))
