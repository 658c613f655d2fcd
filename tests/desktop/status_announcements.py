#!/usr/bin/python3
"""What a screen reader receives over AT-SPI when a pass reports: the events on the status, as it gets them.

Usage (on an X display, in a D-Bus session of its own): status_announcements.py PROGRAM
The program runs with a home of its own and reaches the trial site and the product site through a
loopback proxy of this script's own; its default browser is a stand-in that opens nothing.

Two passes: one that answers at once, and one that waits for a product page that this script holds
until the window has said that it waits. Then a pass on a page whose script never returns: the offer
to stop it comes up, a notification too. A screen reader speaks a notification when it comes up
(object:state-changed:showing), naming it by its accessible name; so each outcome must arrive as a
name change followed by the notification coming up, named with the outcome's words.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

import pyatspi
from gi.repository import GLib

TRIAL = "http://try.taobao.com/item.htm?id=1001"
WAITING_TRIAL = "http://try.taobao.com/item.htm?id=1002"
PRODUCT = "http://item.taobao.com/item.htm?id=2002"
HELD_PRODUCT = "http://item.taobao.com/item.htm?id=2003"
STUCK_TRIAL = "http://try.taobao.com/item.htm?id=1003"
STUCK = "网页没有响应"

ANSWERED = "已答题：“品牌”是“长春”（来自商品页的属性列表），已填入答案框。"
WAITING = "正在下载商品页…（按 Esc 可取消）"
CEILING_S = 120  # a safety net no machine reaches: every step waits for the event that shows it

# The trial page goes on to the next one once its answer has been written, as a user would.
TRIAL_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8"><title>试用</title></head><body>
<p>属性描述：请问该商品的<em>品牌</em>是什么？ <a href="{link}">找答案</a></p>
<form><input name="J_AnswerInput" id="answer"></form>
<script>document.getElementById('answer').addEventListener('change', () => {{ {then} }});</script>
</body></html>"""
PRODUCT_PAGE = """<html><body><ul class="attributes-list"><li title="x">品牌:&nbsp;&#38271;&#26149;</li></ul>
<div>描述加载中</div></body></html>"""

release = threading.Event()


class Site(http.server.BaseHTTPRequestHandler):
    """The trial site and the product site, as the program's HTTP proxy: paths are whole URLs."""

    def do_GET(self):
        url = self.path
        if url == "http://try.taobao.com/":
            self.send_response(302)
            self.send_header("Location", TRIAL)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if url == TRIAL:
            body = TRIAL_PAGE.format(link=PRODUCT, then="location.href = '%s';" % WAITING_TRIAL)
        elif url == WAITING_TRIAL:
            body = TRIAL_PAGE.format(link=HELD_PRODUCT, then="location.href = '%s';" % STUCK_TRIAL)
        elif url == STUCK_TRIAL:
            body = TRIAL_PAGE.format(link=PRODUCT, then="") + "<script>for (;;) {}</script>"
        elif url == PRODUCT:
            body = PRODUCT_PAGE
        elif url == HELD_PRODUCT:
            release.wait(CEILING_S)
            body = PRODUCT_PAGE
        else:
            self.send_error(404)
            return
        data = body.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


def program_env(home, port):
    bindir = os.path.join(home, "bin")
    os.makedirs(bindir)
    opener = os.path.join(bindir, "xdg-open")
    with open(opener, "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(opener, 0o755)
    run = os.path.join(home, "run")
    os.makedirs(run, mode=0o700)
    env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=run, PATH=bindir + ":" + os.environ["PATH"],
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
               http_proxy="http://127.0.0.1:%d" % port)
    for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "no_proxy", "NO_PROXY"):
        env.pop(name, None)
    return env


def in_program(accessible):
    try:
        return accessible.getApplication().name == "quillory"
    except Exception:
        return False


def find(node, role, name, depth=0):
    if node is None or depth > 12:
        return None
    try:
        if node.getRoleName() == role and node.name == name:
            return node
        for i in range(node.childCount):
            found = find(node.getChildAtIndex(i), role, name, depth + 1)
            if found is not None:
                return found
    except Exception:
        return None
    return None


def answer_button():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "quillory":
            return find(app, "push button", "答题")
    return None


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Site)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    home = tempfile.mkdtemp()
    received = []  # (event type, role, name, detail1) of every event on a notification of the program
    outcome = {"result": None}
    state = {"step": "start"}

    def press_answer():
        button = answer_button()
        if button is None:
            return False
        button.queryAction().doAction(0)
        return True

    def on_event(event):
        source = event.source
        if not in_program(source):
            return
        try:
            role = source.getRoleName()
            name = source.name
        except Exception:
            return
        if role != "notification":
            return
        received.append((event.type, role, name, event.detail1))
        if event.type != "object:state-changed:showing" or not event.detail1:
            return
        if state["step"] == "first pass" and name == ANSWERED:
            state["step"] = "waiting page"  # the page goes on by itself once answered
            GLib.timeout_add(0, wait_for_waiting_page)
        elif state["step"] == "second pass" and name == WAITING:
            state["step"] = "released"
            release.set()
        elif state["step"] == "released" and name == ANSWERED:
            state["step"] = "stuck page"  # the page goes on by itself once answered
            GLib.timeout_add(0, wait_for_stuck_page)
        elif state["step"] == "third pass" and name == STUCK:
            outcome["result"] = True
            pyatspi.Registry.stop()

    # The window is there once its answer button can be pressed; the first trial page has loaded once the
    # proxy has been asked for its product page (the window downloads it as soon as the page is shown).
    def start_first_pass():
        if state["step"] != "start":
            return False
        if not product_asked.is_set() or not press_answer():
            return True  # looked at again on the next turn of the loop
        state["step"] = "first pass"
        return False

    def wait_for_waiting_page():
        if not held_asked.is_set():
            return True
        if press_answer():
            state["step"] = "second pass"
            return False
        return True

    def wait_for_stuck_page():
        if not stuck_asked.is_set():
            return True
        if press_answer():
            state["step"] = "third pass"
            return False
        return True

    def give_up():
        outcome["result"] = False
        pyatspi.Registry.stop()
        return False

    product_asked = threading.Event()
    held_asked = threading.Event()
    stuck_asked = threading.Event()
    original = Site.do_GET

    def noting(self):
        if self.path == PRODUCT:
            product_asked.set()
        if self.path == HELD_PRODUCT:
            held_asked.set()
        if self.path == STUCK_TRIAL:
            stuck_asked.set()
        original(self)

    Site.do_GET = noting

    for kind in ("object:state-changed:showing", "object:property-change:accessible-name",
                 "object:property-change:accessible-description", "object:text-changed",
                 "object:announcement"):
        pyatspi.Registry.registerEventListener(on_event, kind)
    process = subprocess.Popen([sys.argv[1]], env=program_env(home, server.server_address[1]),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        GLib.timeout_add(100, start_first_pass)
        GLib.timeout_add_seconds(CEILING_S, give_up)
        pyatspi.Registry.start()
    finally:
        release.set()
        process.terminate()
        process.wait(10)
        server.shutdown()

    print("events on the status, as a screen reader receives them:")
    for event_type, role, name, detail in received:
        print("  %s (%s, detail1=%d): %s" % (event_type, role, detail, name))
    if not outcome["result"]:
        print("the passes did not report as expected (step: %s)" % state["step"])
        return 1
    told = [(t, n) for t, _, n, d in received
            if t.startswith("object:property-change:accessible-name")
            or (t == "object:state-changed:showing" and d == 1)]
    expected = [("object:property-change:accessible-name", ANSWERED), ("object:state-changed:showing", ANSWERED),
                ("object:property-change:accessible-name", WAITING), ("object:state-changed:showing", WAITING),
                ("object:property-change:accessible-name", ANSWERED), ("object:state-changed:showing", ANSWERED),
                ("object:state-changed:showing", STUCK)]
    described = [e for e in received if e[0].startswith("object:property-change:accessible-description")]
    if told != expected or described:
        print("expected:", expected)
        return 1
    print("each outcome told once, as a notification that comes up")
    return 0


if __name__ == "__main__":
    sys.exit(main())
