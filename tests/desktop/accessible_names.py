#!/usr/bin/python3
"""The window's controls as a screen reader finds them over AT-SPI: each has the name it is read by.

Usage (on an X display, in a D-Bus session of its own): accessible_names.py PROGRAM
The program runs with a home of its own; its default browser is a stand-in that opens nothing.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

EXPECTED = {
    ("push button", "答题"),
    ("push button", "后退"),
    ("push button", "查看答案"),
    ("push button", "by:tovrin"),
    ("check box", "自动答题（网速要给力啊）"),
    ("label", "自动答题（网速要给力啊）"),
    ("text", "答案"),
}
PANE = "网页"


def walk(node, depth=0):
    if node is None or depth > 12:
        return
    yield node
    for i in range(node.childCount):
        try:
            yield from walk(node.getChildAtIndex(i), depth + 1)
        except Exception:
            continue


def window_of(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    return None


def main():
    program = sys.argv[1]
    home = tempfile.mkdtemp()
    bindir = os.path.join(home, "bin")
    os.makedirs(bindir)
    opener = os.path.join(bindir, "xdg-open")
    with open(opener, "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(opener, 0o755)
    run = os.path.join(home, "run")
    os.makedirs(run, mode=0o700)
    env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=run, PATH=bindir + ":" + os.environ["PATH"],
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1", http_proxy="http://127.0.0.1:9")
    for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"):
        env.pop(name, None)
    process = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        found = set()
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            app = window_of("quillory")
            if app is not None:
                found = {(node.getRoleName(), node.name) for node in walk(app)}
                if EXPECTED <= found and any(name == PANE for _, name in found):
                    print("every control has its name")
                    return 0
            time.sleep(0.5)
        missing = sorted(EXPECTED - found)
        print("missing:", missing, "pane named:", any(name == PANE for _, name in found))
        print("found:", sorted(found))
        return 1
    finally:
        process.terminate()
        process.wait(10)


if __name__ == "__main__":
    sys.exit(main())
