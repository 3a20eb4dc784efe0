#!/usr/bin/python3
"""The player read and pressed as a screen reader does, through AT-SPI. Commands:
check PATH OPENED: what the window tells: every push button named and focusable, pressable while
  enabled and said to be disabled otherwise; the two pictures named, focusable, pressable links; Loop
  Sounds toggles; the file name box labelled "FileName:" reads PATH; "MIDI SYNTH." told once; the
  focus on the strip's first button. A press of each link makes xdg-open write its address to OPENED.
press NAME LABEL CHECKS EVENTS: presses the transport button NAME by its action, noting
  "LABEL CHECKS <wall time>" in EVENTS just before (for analyse.py)."""
import sys, time
import pyatspi

WORDS = ["Prev", "Next", "Play", "Pause", "Back", "Step", "Stop", "Record", "Eject"]
LINKS = {"fluidsynth.org": "https://www.fluidsynth.org/",
         "wikipedia.org": "https://en.wikipedia.org/wiki/General_MIDI"}


def window():
    for _ in range(100):
        apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Mellowdeck"]
        if apps and apps[0].childCount:
            return apps[0][0]
        time.sleep(0.1)
    sys.exit("FAIL: the player is not on the accessibility bus")


def everything(o):
    yield o
    for c in o:
        if c is not None:
            yield from everything(c)


def has(o, state):
    return o.getState().contains(state)


def actions(o):
    try:
        a = o.queryAction()
    except NotImplementedError:
        return {}
    return {a.getName(i).lower(): (a, i) for i in range(a.nActions)}


def transport(win):
    return [o for o in everything(win) if o.getRole() == pyatspi.ROLE_PUSH_BUTTON]


def check(path, opened):
    win, fails = window(), []
    expect = lambda ok, what: print(("  ok    " if ok else "  FAIL  ") + what) or ok or fails.append(what)
    objs = list(everything(win))
    buttons = transport(win)
    expect(sorted(b.name for b in buttons) == sorted(WORDS + ["Start", "Stop"]),
           "push buttons named by their words: %s" % [b.name for b in buttons])
    for b in buttons:
        enabled = has(b, pyatspi.STATE_ENABLED)
        expect(has(b, pyatspi.STATE_FOCUSABLE), "%s can take the focus" % b.name)
        expect(("press" in actions(b)) == enabled, "%s: %s" % (b.name, "offers press" if enabled else "disabled, no press"))
    states = {b.name: has(b, pyatspi.STATE_ENABLED) for b in buttons[:9]}
    expect(states["Play"] and not states["Pause"] and not states["Record"], "a stopped piece: Play enabled, Pause and Record not")
    expect(has(buttons[0], pyatspi.STATE_FOCUSED), "the focus is on the strip's first button: %s" % [
        (o.name, o.getRoleName()) for o in objs if has(o, pyatspi.STATE_FOCUSED)])
    links = [o for o in objs if o.getRole() == pyatspi.ROLE_LINK]
    expect(sorted(next((h for h in LINKS if h in l.name), "?") for l in links) == sorted(LINKS),
           "two links named for their sites: %s" % [l.name for l in links])
    open(opened, "w").close()
    for l in links:
        expect(has(l, pyatspi.STATE_FOCUSABLE) and "press" in actions(l), "%s: focusable, offers press" % l.name)
        a, i = actions(l).get("press", (None, 0))
        a and a.doAction(i)
    for _ in range(50):
        if len(open(opened).read().split()) >= 2:
            break
        time.sleep(0.1)
    expect(sorted(open(opened).read().split()) == sorted(LINKS.values()), "pressing the links opens their addresses")
    loop = [o for o in objs if o.getRole() == pyatspi.ROLE_CHECK_BOX and o.name == "Loop Sounds"]
    expect(len(loop) == 1 and "toggle" in actions(loop[0]), "Loop Sounds toggles")
    boxes = [o for o in objs if any(r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                                    and r.getTarget(0).name == "FileName:" for r in o.getRelationSet())]
    expect([b.name for b in boxes] == [path], "the box labelled FileName: reads the whole path: %s" % [b.name for b in boxes])
    expect(sum(o.name == "MIDI SYNTH." for o in objs) == 1, "MIDI SYNTH. told once")
    return 1 if fails else 0


def press(name, label, checks, events):
    a, i = actions(next(b for b in transport(window()) if b.name == name))["press"]
    with open(events, "a") as f:
        f.write("%s %s %.6f\n" % (label, checks, time.time()))
    a.doAction(i)


if __name__ == "__main__":
    cmd = {"check": check, "press": press}.get((sys.argv + [""])[1])
    sys.exit(cmd(*sys.argv[2:]) if cmd else __doc__)
