#!/usr/bin/python3
"""The player read and pressed as a screen reader does, through AT-SPI. Commands: check: the player is on
the accessibility bus, the focus on Prev; press NAME LABEL CHECKS EVENTS: presses the transport button
NAME by its action, noting "LABEL CHECKS <wall time>" in EVENTS just before (for analyse.py)."""
import sys, time
import pyatspi


def objects():
    for _ in range(100):
        app = next((a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Mellowdeck"), None)
        if app is not None and app.childCount:
            return list(everything(app[0]))
        time.sleep(0.1)
    sys.exit("FAIL: the player is not on the accessibility bus")


def everything(o):
    yield o
    for c in o:
        yield from everything(c) if c is not None else ()


def actions(o):
    try:
        a = o.queryAction()
    except NotImplementedError:
        return {}
    return {a.getName(i).lower(): (a, i) for i in range(a.nActions)}


def buttons(objs):   # the strip's nine, then Start and Stop
    return [o for o in objs if o.getRole() == pyatspi.ROLE_PUSH_BUTTON]


def check():
    first = buttons(objects())[0]
    focused = first.getState().contains(pyatspi.STATE_FOCUSED)
    print("  %s  the focus is on %s" % ("ok  " if focused else "FAIL", first.name))
    return 0 if focused and first.name == "Prev" else 1


def press(name, label, checks, events):
    a, i = actions(next(b for b in buttons(objects()) if b.name == name))["press"]
    with open(events, "a") as f:
        f.write("%s %s %.6f\n" % (label, checks, time.time()))
    a.doAction(i)


if __name__ == "__main__":
    cmd = {"check": check, "press": press}.get((sys.argv + [""])[1])
    sys.exit(cmd(*sys.argv[2:]) if cmd else __doc__)
