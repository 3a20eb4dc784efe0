#!/usr/bin/python3
"""Reads what the player sounded (capsink's capture) against when each control was pressed.

usage: analyse.py transport WORKDIR      checks the transport scenario; exit 1 on a failure
       analyse.py figures WORKDIR NAME   prints the measured figures as JSON (for bench/latency)

WORKDIR holds capture.raw (S16_LE stereo, 44.1 kHz), capture.ts ("<frame> <wall time played>" per
chunk) and capture.events ("<label> <wall time of the click>" per line); for `figures`, NAME.raw,
NAME.ts and NAME.events. The test piece (mkmidi.py) is
1.5 s long and opens with a loud high note: a "play start" is an onset of about that loudness.
Standard library only.
"""
import array
import bisect
import json
import math
import os
import sys

RATE = 44100
FRAME = 4                    # bytes: two 16-bit channels
WIN = RATE // 200            # 5 ms analysis windows
PIECE_S = 1.5                # End of Track of the test piece
SOUND_DB = -60.0             # above this a window counts as sound
HOLD_S = 0.3                 # silence this long ends a sound (the piece's own rests are shorter)
ONSET_RISE_DB = 10.0         # a window this much louder than the quietest of the last 50 ms
START_MARGIN_DB = 5.0        # a play start is within this much of the loudest onset

# Generous bounds: the machines that run this are shared and noisy.
MAX_LATENCY_S = 0.25         # click to sound
MAX_RESTART_GAP_S = 0.25     # end of piece to its restart while looping
MAX_SILENCE_S = 0.25 + 0.5   # Stop to silence: reaction plus the notes' release
QUIET_DB = -70.0             # 1 s after Stop nothing may sound above this


def db(rms):
    return 20 * math.log10(rms / 32768.0) if rms > 0 else -200.0


class Capture:
    def __init__(self, work, name="capture"):
        with open(os.path.join(work, name + ".raw"), "rb") as f:
            data = f.read()
        data = data[: len(data) // FRAME * FRAME]
        self.samples = array.array("h")
        self.samples.frombytes(data)
        if sys.byteorder != "little":
            self.samples.byteswap()
        self.frames = len(self.samples) // 2
        self.ts_frame, self.ts_wall = [], []
        with open(os.path.join(work, name + ".ts")) as f:
            for line in f:
                fr, wall = line.split()
                self.ts_frame.append(int(fr))
                self.ts_wall.append(float(wall))
        if not self.ts_frame or self.frames == 0:
            raise SystemExit("FAIL: nothing was captured: the player sent no sound to ALSA")
        self.levels = []
        s = self.samples
        for w0 in range(0, self.frames - WIN + 1, WIN):
            seg = s[2 * w0: 2 * (w0 + WIN)]
            self.levels.append(db(math.sqrt(sum(v * v for v in seg) / len(seg))))

    def wall(self, frame):
        """When the emulated card played `frame`."""
        i = max(0, bisect.bisect_right(self.ts_frame, frame) - 1)
        return self.ts_wall[i] + (frame - self.ts_frame[i]) / RATE

    def window_at(self, wall):
        """The first window played at or after `wall`."""
        lo, hi = 0, len(self.levels)
        while lo < hi:
            mid = (lo + hi) // 2
            if self.wall(mid * WIN) < wall:
                lo = mid + 1
            else:
                hi = mid
        return lo

    def onsets(self):
        """(wall, level dB) of each sharp rise, timed to the sample where it begins."""
        out, last = [], -100
        back = 10   # 50 ms
        for i, lv in enumerate(self.levels):
            # A louder note may start just after a softer one: keep onsets 20 ms apart only,
            # a decaying note never rises again by ONSET_RISE_DB
            if lv < SOUND_DB + 10 or i - last < 4:
                continue
            # look back no further than the last onset, or one attack counts several times
            base = min(self.levels[max(0, i - back, last + 1): i], default=-200.0)
            if lv - base < ONSET_RISE_DB:
                continue
            peak = max(self.levels[i: i + 10])
            # the first sample of the attack: a quarter of this window's peak amplitude
            lo = max(0, (i - 1) * WIN)
            seg = self.samples[2 * lo: 2 * (i + 1) * WIN]
            amp = max(abs(v) for v in self.samples[2 * i * WIN: 2 * (i + 1) * WIN]) / 4
            first = next((k // 2 for k, v in enumerate(seg) if abs(v) >= amp), 0)
            out.append((self.wall(lo + first), peak))
            last = i
        return out

    def silent_from(self, wall):
        """When sound last stops at or after `wall`, for at least HOLD_S."""
        hold = int(HOLD_S * RATE / WIN)
        i = self.window_at(wall)
        run = 0
        for j in range(i, len(self.levels)):
            run = run + 1 if self.levels[j] < SOUND_DB else 0
            if run >= hold:
                return self.wall((j - hold + 1) * WIN)
        return None

    def timeline(self, a, b):
        i, j = self.window_at(a), self.window_at(b)
        return " ".join("%.0f" % max(self.levels[k:k + 4]) for k in range(i, j, 4))

    def loudest(self, a, b):
        i, j = self.window_at(a), self.window_at(b)
        return max(self.levels[i:j], default=-200.0)


def load_events(work, name):
    ev = {}
    with open(os.path.join(work, name)) as f:
        for line in f:
            label, t = line.split()
            ev[label] = float(t)
    return ev


class Check:
    def __init__(self, cap, events):
        self.cap, self.ev = cap, events
        ons = cap.onsets()
        top = max((lv for _, lv in ons), default=-200.0)
        self.starts = [t for t, lv in ons if lv >= top - START_MARGIN_DB]
        self.failures = []
        self.figures = {"latency_s": [], "restart_gap_s": [], "stop_to_silence_s": [],
                        "level_1s_after_stop_db": [], "play_sound_s": []}

    def expect(self, ok, what):
        print(("  ok    " if ok else "  FAIL  ") + what)
        if not ok:
            self.failures.append(what)
        return ok

    def starts_in(self, a, b):
        return [t for t in self.starts if a <= t < b]

    def start_after(self, label, until):
        """The play start that answers the click `label`; records its latency."""
        t0 = self.ev[label]
        found = self.starts_in(t0, t0 + until)
        if not found:
            self.expect(False, "%s: the piece did not start within %.1f s" % (label, until))
            print("        heard from 0.2 s before the click, dBFS every 20 ms: "
                  + self.cap.timeline(t0 - 0.2, t0 + until))
            return None
        lat = found[0] - t0
        self.figures["latency_s"].append(lat)
        self.expect(lat <= MAX_LATENCY_S, "%s: piece starts %.0f ms after the click (bound %.0f)"
                    % (label, lat * 1e3, MAX_LATENCY_S * 1e3))
        return found[0]

    def plays_once(self, label, start, until_label_or_end):
        """From `start` the piece plays to its end once: no other start, sound ends on time."""
        end = self.cap.silent_from(start + 0.05)
        if not self.expect(end is not None, "%s: the sound ends" % label):
            return
        dur = end - start
        self.figures["play_sound_s"].append(dur)
        # the last note is released at 1.2 s; its tail fades below the threshold soon after
        self.expect(1.0 <= dur <= PIECE_S + 0.3,
                    "%s: one play sounds for %.2f s (expected 1.0 to %.1f)" % (label, dur, PIECE_S + 0.3))
        extra = self.starts_in(start + 0.1, until_label_or_end)
        self.expect(not extra, "%s: no further start before %.1f s later (found %d)"
                    % (label, until_label_or_end - start, len(extra)))

    def stops(self, label):
        t0 = self.ev[label]
        # a Stop in a rest would prove nothing
        if not self.expect(self.cap.loudest(t0 - 0.02, t0) >= SOUND_DB,
                           "%s: the piece was sounding when Stop was clicked" % label):
            return
        end = self.cap.silent_from(t0)
        if not self.expect(end is not None, "%s: the sound stops" % label):
            return
        took = max(0.0, end - t0)
        self.figures["stop_to_silence_s"].append(took)
        self.expect(took <= MAX_SILENCE_S, "%s: silent %.0f ms after the click (bound %.0f)"
                    % (label, took * 1e3, MAX_SILENCE_S * 1e3))
        later = self.cap.loudest(t0 + 1.0, t0 + 1.5)
        self.figures["level_1s_after_stop_db"].append(later)
        self.expect(later < QUIET_DB, "%s: 1 s later the loudest sound is %.0f dBFS (bound %.0f)"
                    % (label, later, QUIET_DB))
        nxt = min([t for k, t in self.ev.items() if t > t0], default=t0 + 1.5)
        extra = self.starts_in(t0, nxt)
        self.expect(not extra, "%s: nothing starts again before the next click" % label)

    def loops(self, label, first, until, want):
        """Each restart follows the previous start by the piece's length plus a short gap."""
        seq = [first] + self.starts_in(first + 0.1, until)
        self.expect(len(seq) >= want, "%s: the piece played %d times in a row (want %d)"
                    % (label, len(seq), want))
        for a, b in zip(seq, seq[1:]):
            gap = b - a - PIECE_S
            self.figures["restart_gap_s"].append(gap)
            self.expect(-0.02 <= gap <= MAX_RESTART_GAP_S,
                        "%s: restart %.0f ms after the end of the piece (bound %.0f)"
                        % (label, gap * 1e3, MAX_RESTART_GAP_S * 1e3))
        return seq


def transport(work):
    ev = load_events(work, "capture.events")
    c = Check(Capture(work), ev)
    print("detected play starts (s from the first click): "
          + " ".join("%.3f" % (t - ev["A_start"]) for t in c.starts))

    print("Start plays the piece once from its beginning")
    s = c.start_after("A_start", 1.0)
    if s:
        c.plays_once("A_start", s, ev["B_start1"])

    print("Start during play restarts it")
    s1 = c.start_after("B_start1", 1.0)
    s2 = c.start_after("B_start2", 1.0)
    if s1 and s2:
        c.expect(not c.starts_in(s1 + 0.1, s2), "B: no other start between the two clicks")
        c.plays_once("B_start2", s2, ev["C_start"])

    print("Stop silences it")
    c.start_after("C_start", 1.0)
    c.stops("C_stop")

    print("Loop Sounds repeats the piece; unchecking it ends the loop after one more play")
    s = c.start_after("D_start", 1.0)
    if s:
        c.loops("D_start", s, ev["D_uncheck"], 4)
        s = c.start_after("D_uncheck", 1.0)
        if s:
            c.plays_once("D_uncheck", s, ev["E_play"])

    print("The control's own Play and Stop")
    c.start_after("E_play", 1.0)
    c.stops("E_stop")
    # Stop rewound: with the loop on, the control's Play plays from where the device stands,
    # and only the beginning of the piece opens with the loud note
    s = c.start_after("F_play", 1.0)
    if s:
        c.loops("F_play", s, ev["F_stop"], 2)
    c.stops("F_stop")

    f = c.figures
    print("figures: click to sound %s ms; restart gaps %s ms; Stop to silence %s ms; "
          "1 s after Stop %s dBFS"
          % (fmt(f["latency_s"]), fmt(f["restart_gap_s"]), fmt(f["stop_to_silence_s"]),
             " ".join("%.0f" % v for v in f["level_1s_after_stop_db"])))
    if c.failures:
        print("FAIL: %d check(s) failed:\n  %s" % (len(c.failures), "\n  ".join(c.failures)))
        return 1
    print("PASS")
    return 0


def fmt(values):
    return " ".join("%.0f" % (v * 1e3) for v in values) or "-"


def figures(work, name):
    """Figures of a bench run from NAME.raw, NAME.ts and NAME.events. What each click was is
    told by the start of its label: start (a start that waits for the poll), direct (a start
    that plays at once), launch (the program started playing it), stop; a label holding
    "loop" is followed by restarts until the next click."""
    ev = load_events(work, name + ".events")
    cap = Capture(work, name)
    c = Check(cap, ev)
    out = {"latency_s": [], "direct_latency_s": [], "launch_latency_s": [], "restart_gap_s": [],
           "stop_to_silence_s": [], "level_1s_after_stop_db": []}
    kinds = {"start": "latency_s", "direct": "direct_latency_s", "launch": "launch_latency_s"}
    for label, t in sorted(ev.items(), key=lambda kv: kv[1]):
        nxt = min([u for u in ev.values() if u > t], default=t + 10)
        kind = next((k for k in kinds if label.startswith(k)), None)
        if kind:
            found = c.starts_in(t, min(t + 1.0, nxt))
            if found:
                out[kinds[kind]].append(found[0] - t)
                if "loop" in label:
                    seq = found[:1] + c.starts_in(found[0] + 0.1, nxt)
                    out["restart_gap_s"] += [b - a - PIECE_S for a, b in zip(seq, seq[1:])]
        elif label.startswith("stop"):
            end = cap.silent_from(t)
            if end is not None:
                out["stop_to_silence_s"].append(max(0.0, end - t))
            out["level_1s_after_stop_db"].append(cap.loudest(t + 1.0, t + 1.5))
    json.dump(out, sys.stdout)
    print()
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "transport":
        sys.exit(transport(sys.argv[2]))
    if len(sys.argv) == 4 and sys.argv[1] == "figures":
        sys.exit(figures(sys.argv[2], sys.argv[3]))
    sys.exit(__doc__)
