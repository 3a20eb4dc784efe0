#!/usr/bin/python3
"""The player read and pressed as a screen reader does, through AT-SPI. Commands:
check PATH OPENED: push buttons named, focusable, pressable while enabled and else disabled; the
  pictures named, focusable links whose press makes xdg-open note its address in OPENED; Loop Sounds
  toggles; the box labelled "FileName:" reads PATH; "MIDI SYNTH." told once; the focus on Prev.
press NAME LABEL CHECKS EVENTS: presses the transport button NAME by its action, noting
  "LABEL CHECKS <wall time>" in EVENTS just before (for analyse.py)."""
import sys, time
import pyatspi

WORDS = ["Prev", "Next", "Play", "Pause", "Back", "Step", "Stop", "Record", "Eject"]
SITES = {"fluidsynth.org": "https://www.fluidsynth.org/", "wikipedia.org": "https://en.wikipedia.org/wiki/General_MIDI"}


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


def has(o, state):
    return o.getState().contains(state)


def actions(o):
    try:
        a = o.queryAction()
    except NotImplementedError:
        return {}
    return {a.getName(i).lower(): (a, i) for i in range(a.nActions)}


def buttons(objs):   # the strip's nine, then Start and Stop
    return [o for o in objs if o.getRole() == pyatspi.ROLE_PUSH_BUTTON]


def check(path, opened):
    objs, fails = objects(), []
    expect = lambda ok, what: print(("  ok    " if ok else "  FAIL  ") + what) or ok or fails.append(what)
    pushes = buttons(objs)
    expect([b.name for b in pushes] == WORDS + ["Start", "Stop"], "push buttons named: %s" % [b.name for b in pushes])
    for b in pushes:
        on = has(b, pyatspi.STATE_ENABLED)
        expect(has(b, pyatspi.STATE_FOCUSABLE) and ("press" in actions(b)) == on,
               "%s: focusable, %s" % (b.name, "offers press" if on else "disabled, no press"))
    on = [b.name for b in pushes[:9] if has(b, pyatspi.STATE_ENABLED)]
    expect("Play" in on and "Record" not in on, "a stopped piece: %s enabled" % on)   # both kinds seen
    expect(has(pushes[0], pyatspi.STATE_FOCUSED), "the focus is on Prev")
    links = [o for o in objs if o.getRole() == pyatspi.ROLE_LINK]
    expect(sorted(next((s for s in SITES if s in l.name), "") for l in links) == sorted(SITES),
           "links named for their sites: %s" % [l.name for l in links])
    open(opened, "w").close()
    for l in links:
        expect(has(l, pyatspi.STATE_FOCUSABLE) and "press" in actions(l), "%s: focusable, offers press" % l.name)
        a, i = actions(l).get("press", (None, 0))
        a and a.doAction(i)
    for _ in range(50):
        if len(open(opened).read().split()) >= len(SITES):
            break
        time.sleep(0.1)
    expect(sorted(open(opened).read().split()) == sorted(SITES.values()), "pressing the links opens their addresses")
    expect([o.name for o in objs if "toggle" in actions(o)] == ["Loop Sounds"], "Loop Sounds toggles")
    boxes = [o.name for o in objs if any(r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                                         and r.getTarget(0).name == "FileName:" for r in o.getRelationSet())]
    expect(boxes == [path], "the box labelled FileName: reads the whole path: %s" % boxes)
    expect(sum(o.name == "MIDI SYNTH." for o in objs) == 1, "MIDI SYNTH. told once")
    return 1 if fails else 0


def press(name, label, checks, events):
    a, i = actions(next(b for b in buttons(objects()) if b.name == name))["press"]
    with open(events, "a") as f:
        f.write("%s %s %.6f\n" % (label, checks, time.time()))
    a.doAction(i)


if __name__ == "__main__":
    cmd = {"check": check, "press": press}.get((sys.argv + [""])[1])
    sys.exit(cmd(*sys.argv[2:]) if cmd else __doc__)
