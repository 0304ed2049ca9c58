#!/usr/bin/python3
"""Prints what a screen reader reads in a running program (through the accessibility
bus), one line each:
  accessible_texts.py PID menu    the rows of the menus it has open ("-" for a separator)
  accessible_texts.py PID labels  the labels shown in its windows
Exits with 1 when there is nothing to print."""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def shown(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def walk(node, wanted, out):
    if not shown(node):
        return
    role = node.get_role()
    if role in wanted:
        out.append("-" if role == Atspi.Role.SEPARATOR else node.get_name())
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            walk(child, wanted, out)


def main():
    pid, what = int(sys.argv[1]), sys.argv[2]
    top, wanted = {
        "menu": (Atspi.Role.WINDOW, {Atspi.Role.MENU_ITEM, Atspi.Role.SEPARATOR}),
        "labels": (Atspi.Role.FRAME, {Atspi.Role.LABEL}),
    }[what]
    desktop = Atspi.get_desktop(0)
    found = []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_process_id() != pid:
            continue
        for j in range(app.get_child_count()):
            window = app.get_child_at_index(j)
            if window is not None and window.get_role() == top:
                walk(window, wanted, found)
    print("\n".join(found))
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
