#!/usr/bin/python3
"""Prints the rows of the menus a process has open, as a screen reader reads them
(through the accessibility bus), one per line: open_menu_rows.py PID"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def rows(node, out):
    role = node.get_role()
    if role == Atspi.Role.MENU_ITEM:
        out.append(node.get_name())
    elif role == Atspi.Role.SEPARATOR:
        out.append("-")
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None and role != Atspi.Role.FRAME:
            rows(child, out)


def main():
    pid = int(sys.argv[1])
    desktop = Atspi.get_desktop(0)
    found = []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_process_id() != pid:
            continue
        for j in range(app.get_child_count()):
            window = app.get_child_at_index(j)
            if window is not None and window.get_role() == Atspi.Role.WINDOW:
                rows(window, found)
    print("\n".join(found))
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
