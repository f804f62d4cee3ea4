#!/usr/bin/env python3
"""Adding a root on the settings page, as a user does it in the browser.

Usage: scope_change_test.py PATH/TO/lun
"""
import html.parser
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "index_follows_disk"))
import session_test  # noqa: E402  (the scratch-home session and its page helpers)

WORD = "竹简帛书"


class SettingsForm(html.parser.HTMLParser):
    """The fields the browser would send for the form id="settings"."""

    def __init__(self):
        super().__init__()
        self.fields, self.inside, self.textarea, self.select = [], False, None, None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "form":
            self.inside = a.get("id") == "settings"
        if not self.inside or "name" not in a and tag != "option":
            return
        if tag == "input":
            kind = a.get("type", "text")
            if kind in ("checkbox", "radio") and "checked" not in a:
                return
            if kind not in ("submit", "button"):
                self.fields.append([a["name"], a.get("value", "on" if kind == "checkbox" else "")])
        elif tag == "textarea":
            self.textarea = [a["name"], ""]
            self.fields.append(self.textarea)
        elif tag == "select":
            self.select = [a["name"], None]
            self.fields.append(self.select)
        elif tag == "option" and self.select is not None:
            if self.select[1] is None or "selected" in a:
                self.select[1] = a.get("value", "")

    def handle_endtag(self, tag):
        if tag == "form":
            self.inside = False
        elif tag == "textarea":
            self.textarea = None
        elif tag == "select":
            self.select = None

    def handle_data(self, data):
        if self.textarea is not None:
            self.textarea[1] += data


def test(s):
    first = os.path.join(s.roots[0], "a.txt")
    s.write(first, WORD + " 第一个目录\n")
    second = os.path.join(s.dir, "root2")
    os.makedirs(os.path.join(second, "deep", "er"))
    added = [os.path.join(second, "b.txt"), os.path.join(second, "deep", "er", "c.txt")]
    for path in added:
        s.write(path, WORD + " 第二个目录\n")
    s.write_settings()
    s.start()
    session_test.until("first scan", lambda: set(s.shown(WORD)) == {first})

    form = SettingsForm()
    form.feed(s.get("Setting.shl"))
    fields = dict((k, v) for k, v in form.fields)
    assert "token" in fields and "permit" in fields, fields
    for field in form.fields:
        if field[0] == "permit":
            field[1] = field[1].strip() + "\r\n" + second
    answer = s.get("Setting.shl", fields=[(k, v or "") for k, v in form.fields])
    assert "保存" in answer or "已" in answer, answer[-1500:]

    since = time.time()
    session_test.until("the added root walked", lambda: set(s.shown(WORD)) == {first, *added})
    took = time.time() - since
    s.stop()
    return "scope_change: the added root was found in %.1f s without a restart" % took


if __name__ == "__main__":
    sys.exit(session_test.run(test))
