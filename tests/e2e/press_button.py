#!/usr/bin/python3
"""Presses a button of a window over AT-SPI, as a user of a screen reader would.

    press_button.py --title TITLE --button NAME [--expect TEXT]... [--fill TEXT] [--timeout SECONDS]

Waits (bounded) until some application shows a window named TITLE with an
enabled push button named NAME, checks that every --expect text is the name
of something in that window, and invokes the button's press action. With
--fill, the window's first editable text field is set to TEXT first (a
button that the empty field keeps disabled then becomes enabled).
Exit codes: 0 pressed, 1 window or button not found in time, 2 an expected
text is missing (nothing pressed), 3 the press action failed.
"""

import argparse
import sys
import time

import pyatspi

MAX_DEPTH = 40
MAX_NODES = 5000


def walk(root):
    """The window's descendants, breadth first, bounded in depth and count."""
    queue = [(root, 0)]
    seen = 0
    while queue and seen < MAX_NODES:
        node, depth = queue.pop(0)
        seen += 1
        yield node
        if depth >= MAX_DEPTH:
            continue
        try:
            count = node.childCount
        except Exception:
            continue
        for index in range(min(count, MAX_NODES)):
            try:
                child = node.getChildAtIndex(index)
            except Exception:
                child = None
            if child is not None:
                queue.append((child, depth + 1))


def name_of(node):
    try:
        return node.name or ""
    except Exception:
        return ""


def role_of(node):
    try:
        return node.getRole()
    except Exception:
        return None


def windows_named(title):
    """Top-level windows of every registered application that carry the title."""
    found = []
    try:
        desktop = pyatspi.Registry.getDesktop(0)
        applications = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
    except Exception:
        return found
    for application in applications:
        if application is None:
            continue
        try:
            windows = [application.getChildAtIndex(i) for i in range(application.childCount)]
        except Exception:
            continue
        found.extend(w for w in windows if w is not None and name_of(w) == title)
    return found


def enabled_button(window, name):
    for node in walk(window):
        if role_of(node) == pyatspi.ROLE_PUSH_BUTTON and name_of(node) == name:
            try:
                states = node.getState()
                if states.contains(pyatspi.STATE_ENABLED) and states.contains(pyatspi.STATE_SENSITIVE):
                    return node
            except Exception:
                pass
    return None


def first_text_field(window):
    for node in walk(window):
        if role_of(node) in (pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY):
            try:
                if node.getState().contains(pyatspi.STATE_EDITABLE):
                    return node
            except Exception:
                pass
    return None


def fill(window, text):
    """Sets the window's first editable field; False when it has none yet."""
    field = first_text_field(window)
    if field is None:
        return False
    try:
        return bool(field.queryEditableText().setTextContents(text))
    except Exception:
        return False


def texts_in(window):
    return {name_of(node) for node in walk(window)} - {""}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--title", required=True)
    parser.add_argument("--button", required=True)
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("--fill")
    parser.add_argument("--timeout", type=float, default=60.0)
    args = parser.parse_args()

    deadline = time.monotonic() + args.timeout
    window = button = None
    filled = args.fill is None
    while time.monotonic() < deadline:
        for candidate in windows_named(args.title):
            if not filled:
                filled = fill(candidate, args.fill)
                if not filled:
                    continue
            button = enabled_button(candidate, args.button)
            if button is not None:
                window = candidate
                break
        if button is not None:
            break
        time.sleep(0.2)
    if button is None:
        print("press_button: no window %r with %san enabled button %r within %.0f s"
              % (args.title, "" if filled else "a text field and ", args.button, args.timeout))
        return 1

    shown = texts_in(window)
    missing = [text for text in args.expect if text not in shown]
    if missing:
        print("press_button: not shown in %r: %r; shown: %r" % (args.title, missing, sorted(shown)))
        return 2

    try:
        action = button.queryAction()
        for index in range(action.nActions):
            if action.getName(index) in ("Press", "press", "click"):
                break
        else:
            index = 0
        if not action.doAction(index):
            print("press_button: the press action of %r was refused" % args.button)
            return 3
    except Exception as error:
        print("press_button: pressing %r failed: %s" % (args.button, error))
        return 3
    print("press_button: pressed %r in %r" % (args.button, args.title))
    return 0


if __name__ == "__main__":
    sys.exit(main())
