#!/usr/bin/env python3
"""Turning "图片文字识别" on, on the settings page as a user does, reads
again the pictures lun indexed while it was off: their words are found
without a restart or a re-index. The picture is drawn by render_text_image
and read by the real Tesseract.

Usage: RENDER_TEXT_IMAGE=PATH/TO/render_text_image ocr_reread_test.py PATH/TO/lun
"""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "index_follows_disk"))
sys.path.insert(0, os.path.join(HERE, "..", "scope_change"))
import session_test  # noqa: E402  (the scratch-home session and its page helpers)
from scope_change_test import SettingsForm  # noqa: E402  (the fields a browser sends)

RENDER = os.environ["RENDER_TEXT_IMAGE"]


def test(s):
    picture = os.path.join(s.roots[0], "scan.png")
    subprocess.check_call([RENDER, picture, "Lighthouse holiday", "灯塔假期"])
    with open(os.path.join(s.home, "Setting"), "w", encoding="utf-8") as f:
        f.write("[检索设置]\n允许扫描=|%s|\n文档类型=|PNG|TXT|\n图片文字识别=FALSE\n"
                "AutoStart=FALSE\n每页记录数=200\n" % s.roots[0])
    s.start()
    session_test.until("the picture indexed by its name", lambda: s.shown("scan") == [picture])
    assert s.shown("Lighthouse") == [], "recognition is off, yet the picture's words were read"

    form = SettingsForm()
    form.feed(s.get("Setting.shl"))
    fields = [(k, v or "") for k, v in form.fields if k != "imagetext"] + [("imagetext", "1")]
    answer = s.get("Setting.shl", fields=fields)
    assert "保存" in answer or "已" in answer, answer[-1500:]

    since = time.time()
    session_test.until("the picture read again", lambda: s.shown("Lighthouse") == [picture])
    assert s.shown("灯塔假期") == [picture]
    assert s.shown("scan") == [picture], "the picture has one record"
    took = time.time() - since
    s.stop()
    return "ocr_reread: the picture's words were found %.1f s after recognition was turned on" % took


if __name__ == "__main__":
    sys.exit(session_test.run(test))
