#!/usr/bin/python3
"""Checks over AT-SPI that the workbench's controls carry their accessible names, each once.

Run inside an X display and a D-Bus session, for example:
    xvfb-run -a dbus-run-session -- /usr/bin/python3 tests/ui/atspi_names.py build/ui/ui/tarnwick
Needs python3-pyatspi (Debian). Prints the tree it saw; exit status 0 when every name is found once.
"""
import os
import subprocess
import sys
import time

import pyatspi

EXPECTED = [
    "IP地址", "端口", "接口类型", "8583域参数", "8583报文",
    "发送", "解析orbo8583报文", "生成orbo8583报文", "解析iso8583包", "生成iso8583包",
    "解析JSON包", "生成JSON包", "Clear",
]


def find_app(name, seconds, process):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if process.poll() is not None:
            return None  # the program ended (it could not reach the display)
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name.lower() == name.lower():
                return app
        time.sleep(0.5)
    return None


def walk(node, depth, seen):
    try:
        role, name = node.getRoleName(), node.name
    except Exception:  # an object that went away
        return
    print("  " * depth + f"{role}: {name!r}")
    if name:
        seen.append((role, name))
    for child in node:
        if child is not None:
            walk(child, depth + 1, seen)


def main():
    program = sys.argv[1]
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    # The accessibility bus launcher connects to the display once and leaves; a server that
    # resets at that moment refuses the program's connection, so a program that ends at once is
    # started again.
    for attempt in range(3):
        process = subprocess.Popen([program], env=env)
        app = find_app("tarnwick", 20, process)
        if app is not None or process.poll() is None:
            break
        time.sleep(1)
    try:
        if app is None:
            print("tarnwick did not appear on the accessibility bus", file=sys.stderr)
            return 1
        time.sleep(1)
        seen = []
        print(f"{app.getRoleName()}: {app.name!r}")
        for window in app:  # the application and its window carry the program's name
            print(f"  {window.getRoleName()}: {window.name!r}")
            for child in window:
                walk(child, 2, seen)
        names = [name for _, name in seen]
        problems = [f"{n!r} seen {names.count(n)} times" for n in EXPECTED if names.count(n) != 1]
        duplicates = sorted({n for n in names if names.count(n) > 1})
        problems += [f"{n!r} is not distinct" for n in duplicates if n not in EXPECTED]
        for p in problems:
            print("PROBLEM:", p, file=sys.stderr)
        print("ok" if not problems else "failed")
        return 0 if not problems else 1
    finally:
        process.terminate()
        process.wait(10)


if __name__ == "__main__":
    sys.exit(main())
