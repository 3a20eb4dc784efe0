#!/usr/bin/python3
"""The end-to-end tests' piece, recording and listening. Commands: piece OUT.mid, run OUT.mid; record WORK
[SINK] (the sink `cap` into WORK/capture.raw, s16le stereo, and .ts); check WORK [EVENTS]: what was heard
against WORK/EVENTS, lines of "<label> <checks joined by +: start once loop again stop> <wall time>", then
figures; notes WORK [EVENTS]: the run heard note by note against them."""
import array, bisect, collections, json, math, os, signal, subprocess, sys, time

RATE, WIN, PIECE_S = 44100, 220, 1.5   # 5 ms windows; the piece: a loud high note at 0, softer to 1.2 s
SOUND_DB, QUIET_DB = -60.0, -70.0
# Generous bounds: the machines that run this are small and shared.
MAX_LATENCY_S, MAX_GAP_S, MAX_SILENCE_S = 0.5, 0.25, 0.5


def smf(out, division, tempo, notes, end):   # one track: tempo, program 0, notes (on, off, key, velocity) in ticks
    ev = sorted([(a, bytes([0x90, k, v])) for a, _, k, v in notes] + [(b, bytes([0x80, k, 0])) for _, b, k, _ in notes])
    body, now = b"\x00\xff\x51\x03" + tempo.to_bytes(3, "big") + b"\x00\xc0\x00", 0
    for tick, msg in ev + [(end, b"\xff\x2f\x00")]:
        d, vlq = tick - now, b""
        while True:
            vlq, d = bytes([d & 127 | (0x80 if vlq else 0)]) + vlq, d >> 7
            if not d:
                break
        body += vlq + msg
        now = tick
    with open(out, "wb") as f:
        f.write(b"MThd\0\0\0\6\0\0\0\1" + division.to_bytes(2, "big") + b"MTrk" + len(body).to_bytes(4, "big") + body)


def piece(out):   # 120 bpm, 960 ticks a second; End of Track at 1.5 s
    smf(out, 480, 500000, [(0, 432, 84, 127), (432, 816, 64, 60), (816, 1152, 67, 60)], 1440)


# The run: keys 60-67 a step apart, 100 ms each, End of Track a step after the last; a tick is 32 frames,
# so every note and each pass of a loop begins on FluidSynth's 64-frame grid and is heard to the frame.
RUN_KEYS, RUN_STEP, RUN_NOTE = list(range(60, 68)), 6656, 4416


def run(out):
    smf(out, 441, 320000, [(i * 208, i * 208 + 138, k, 100) for i, k in enumerate(RUN_KEYS)], 8 * 208)


def record(work, sink="null"):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with open(os.path.join(work, "capture.raw"), "wb", 0) as raw, open(os.path.join(work, "capture.ts"), "w", 1) as ts:
        if sink == "pipe":   # the pipe sink's FIFO, taken at the real rate, 10 ms at a time, as a sound card
            # would: silence when it has nothing (the sink writes only while a stream plays)
            fd, step, t0, k = os.open(os.path.join(work, "cap.fifo"), os.O_RDONLY | os.O_NONBLOCK), RATE // 100 * 4, time.monotonic(), 0
            while True:
                k += 1
                time.sleep(max(0.0, t0 + k / 100 - time.monotonic()))
                try:
                    data = os.read(fd, step)
                except BlockingIOError:
                    data = b""
                raw.write(data + bytes(step - len(data)))
                ts.write("%d %.6f\n" % (raw.tell() // 4, time.time()))
        rec = subprocess.Popen(["parecord", "--raw", "--device=cap.monitor", "--format=s16le", "--rate=44100",
                                "--channels=2", "--latency-msec=2"], stdout=subprocess.PIPE)
        while data := rec.stdout.read1(1 << 16):   # per read: the frames so far, the wall time
            raw.write(data)
            ts.write("%d %.6f\n" % (raw.tell() // 4, time.time()))


def clock(work):
    """Frame -> wall time. The sink's clock paces the reads, so a frame sounded no later than any later read
    allows: the earliest such bound over the next 0.25 s (within 2 ms; the reads gain up to 1 ms a second)."""
    est, best = [], collections.deque()
    for f, t in reversed([tuple(map(float, l.split())) for l in open(os.path.join(work, "capture.ts"))]):
        while best and best[-1][1] >= t - f / RATE:
            best.pop()
        best.append((f, t - f / RATE))
        while best[0][0] - f > RATE / 4:
            best.popleft()
        est.append((f, best[0][1] + f / RATE))
    est.reverse()
    ends = [f for f, _ in est]

    def wall(w):
        f, t = est[min(bisect.bisect_right(ends, w), len(est) - 1)]
        return t - (f - w) / RATE
    return wall, int(ends[-1])


def samples(work):
    raw = open(os.path.join(work, "capture.raw"), "rb").read()
    return array.array("h", raw[: len(raw) // 4 * 4])


def levels(work):
    """(wall time, dBFS) of each window."""
    s, (wall, end) = samples(work), clock(work)
    out = []
    for w in range(0, min(len(s) // 2, end) - WIN, WIN):
        ms = sum(v * v for v in s[2 * w: 2 * (w + WIN)]) / (2 * WIN)
        out.append((wall(w), 10 * math.log10(max(ms, 1e-3) / 32768 ** 2)))
    return out


def tones(work):
    """Each pure tone heard, as [first frame, key, frames, wall time of its start]: a run of 4 ms windows whose
    peak passes a quarter of the loudest, begun at its first sample above 1/16 of that, its key by its period."""
    s, (wall, end) = samples(work)[0::2], clock(work)
    W, top = 176, max(max(s), -min(s))
    out, i = [], 0
    loud = [max(max(s[w:w + W]), -min(s[w:w + W])) > top / 4 for w in range(0, len(s) - W, W)] + [False]
    while i < len(loud):
        if not loud[i]:
            i += 1
            continue
        j = next(k for k in range(i, len(loud)) if not loud[k])
        a = next(k for k in range(max(0, (i - 1) * W), j * W) if abs(s[k]) > top / 16)
        b = next(k for k in range(j * W + W, a, -1) if k < len(s) and abs(s[k]) > top / 16)
        up = [k for k in range(a, b) if s[k] < 0 <= s[k + 1]]   # the median period: a fade's glitch counts once
        f = RATE / sorted(y - x for x, y in zip(up, up[1:]))[len(up) // 2 - 1] if len(up) > 2 else 1
        out.append([a, round(69 + 12 * math.log2(f / 440)), b - a, wall(a)])
        i = j
    return out


def notes(work, events="events"):
    """The run heard against the events: each note once, in order (keys 60-67 over and over, or 60 after a
    start), a step apart, a loop's restart to the frame; nothing begins more than MAX_SILENCE_S after a pause
    or stop until the next event. Checks: start (from the beginning), once (the run once, then silence),
    pause, stop; others only mark the time."""
    ev = [(l, c.split("+"), float(t)) for l, c, t in (x.split() for x in open(os.path.join(work, events)))]
    tn = [t for t in tones(work) if t[3] >= ev[0][2] - 0.05 and t[2] >= RATE // 300]   # not a click
    successor = lambda k: k in RUN_KEYS and RUN_KEYS[(RUN_KEYS.index(k) + 1) % len(RUN_KEYS)]
    for x, y in zip(tn, tn[1:]):   # a note a command cut within 50 ms is too short for its pitch to be read exactly
        if y[2] < RATE // 50 or y[2] < RATE // 20 and abs(y[1] - successor(x[1])) <= 2:
            y[1] = successor(x[1])
    fails, restarts = [], []
    fail = lambda what: fails.append(what) or print("  FAIL  " + what)
    between = lambda kind, a, b: any(kind in c and a - MAX_SILENCE_S <= t <= b for _, c, t in ev)
    for x, y in zip(tn, tn[1:]):
        d, nxt = y[0] - x[0], successor(x[1])
        # Play after Pause goes on from where FluidSynth's 64-frame grid falls then, until the next pass;
        # within a pass notes are a step apart to the grid's 64 frames (a note cut at once, to 3 ms)
        resumed = between("play", x[3] - len(RUN_KEYS) * RUN_STEP / RATE, y[3])
        if y[1] == nxt and x[1] == RUN_KEYS[-1] and not resumed and -9 <= d - RUN_STEP <= RATE * 0.003:   # never early
            restarts.append((d - RUN_STEP) / RATE * 1e3)
        elif not (y[1] == nxt and abs(d - RUN_STEP) <= (66 if y[2] >= RATE // 50 else 132) or y[1] == nxt and between("pause", x[3], y[3])
                  or y[1] == RUN_KEYS[0] and between("start", x[3], y[3])):
            fail("key %d at %.3f s, then key %d %.1f ms later" % (x[1], x[3] - ev[0][2], y[1], d / RATE * 1e3))
    for t in tn:
        if t[2] > RUN_NOTE + 350 or t[1] not in RUN_KEYS:
            fail("key %d at %.3f s lasts %.1f ms" % (t[1], t[3] - ev[0][2], t[2] / RATE * 1e3))
    for i, (label, checks, t) in enumerate(ev):
        nxt = ev[i + 1][2] if i + 1 < len(ev) else math.inf
        after = [x for x in tn if t <= x[3] < nxt]
        if "start" in checks and (not after or after[0][1] != RUN_KEYS[0] or after[0][3] - t > MAX_LATENCY_S):
            fail("%s: the run did not start within %.1f s" % (label, MAX_LATENCY_S))
        if "once" in checks and [x[1] for x in after] != RUN_KEYS:
            fail("%s: heard %s, not the run once" % (label, [x[1] for x in after]))
        late = [x for x in after if t + MAX_SILENCE_S < x[3] < nxt - 0.05]   # the times may run a little early
        if ("stop" in checks or "pause" in checks) and late:
            fail("%s: a note began %.0f ms after it" % (label, (late[0][3] - t) * 1e3))
    restarts.sort()
    print("  %d notes heard; %s" % (len(tn), "loop restarts, ms after the exact frame: median %.2f, worst %.2f (%d)" % (
        restarts[len(restarts) // 2], restarts[-1], len(restarts)) if restarts else "no loop restart"))
    if restarts and restarts[len(restarts) // 2] > 1.0:
        fail("the median restart is %.2f ms late" % restarts[len(restarts) // 2])
    return 1 if fails else 0


def check(work, events="events"):
    lv = levels(work)
    walls = [t for t, _ in lv]
    at = lambda t: bisect.bisect_left(walls, t)
    loudest = lambda a, b: max((d for _, d in lv[at(a):at(b)]), default=-200.0)

    def silent_from(t):   # where 0.3 s of silence begins
        run = 0
        for i in range(at(t), len(lv)):
            run = run + 1 if lv[i][1] < SOUND_DB else 0
            if run == 60:
                return lv[i - 59][0]
    ev = [(l, c.split("+"), float(t)) for l, c, t in (x.split() for x in open(os.path.join(work, events)))]
    heard = sorted(d for _, d in lv[at(ev[0][2]):])   # from the first event: the recording may hold others
    top, starts = heard[len(heard) * 99 // 100], []     # the first note's loudness
    for i in range(1, len(lv)):   # a play start: a rise to the first note's loudness, 8 dB over the last 50 ms
        peak, before = max(x for _, x in lv[i:i + 10]), max(x for _, x in lv[max(0, i - 10):i])
        if peak >= max(top - 5, before + 8) and lv[i][1] >= lv[i - 1][1] + 3 \
                and (not starts or lv[i][0] - starts[-1] > 0.1):
            starts.append(lv[i][0])
    fails, figures = [], {}

    def expect(ok, what, t, kind=None, value=None):
        print(("  ok    " if ok else "  FAIL  ") + what)
        if kind:
            figures.setdefault(kind, []).append((label, round(value, 4)))
        if not ok:
            fails.append(what)
        return ok
    for i, (label, checks, t) in enumerate(ev):
        nxt = ev[i + 1][2] if i + 1 < len(ev) else walls[-1]
        # a start is timed to the 5 ms window it begins in, so it may seem to come a little early
        s = next((x for x in starts if t - 0.01 <= x < min(t + 1, nxt)), None) if "start" in checks else None
        if "start" in checks and expect(s is not None, "%s: the piece starts within 1 s" % label, t):
            expect(s - t <= MAX_LATENCY_S, "%s: %.0f ms after the click" % (label, (s - t) * 1e3), t, "latency", s - t)
        if "once" in checks and s is not None:
            end = silent_from(s + 0.05)
            expect(end and s + 1.0 < end < nxt and not [x for x in starts if s < x < nxt],
                   "%s: plays once to its end (the last note ends at 1.2 s)" % label, t)
        if "again" in checks or "loop" in checks and s is not None:   # again: plays on, gaps not timed
            seq = [x for x in starts if (s or t) <= x < nxt]
            want = int((nxt - (s or t)) / (PIECE_S + MAX_GAP_S)) + ("start" in checks)
            expect(len(seq) >= want, "%s: %d plays in a row (want %d)" % (label, len(seq), want), t)
            for a, b in zip(seq, seq[1:] if "loop" in checks else []):
                expect(-0.02 <= b - a - PIECE_S <= MAX_GAP_S, "%s: restart gap %.0f ms" % (label, (b - a - PIECE_S) * 1e3),
                       a, "gap", b - a - PIECE_S)
        if "stop" in checks and expect(loudest(t - 0.05, t) >= SOUND_DB, "%s: sounding when clicked" % label, t):
            end = silent_from(t)
            if expect(end is not None and end - t <= MAX_SILENCE_S, "%s: silent %.0f ms after" % (
                    label, ((end or math.inf) - t) * 1e3), t, "silence" if end else None, (end or t) - t):
                later = loudest(t + 1, nxt - 0.05)   # the times run a few ms early: not the next click's sound
                expect(later < QUIET_DB, "%s: then stays silent (loudest %.0f dBFS)" % (label, later), t, "quiet_db", later)
    print("figures " + json.dumps(figures))
    return 1 if fails else 0


if __name__ == "__main__":
    cmd = {"piece": piece, "run": run, "record": record, "check": check, "notes": notes}.get((sys.argv + [""])[1])
    sys.exit(cmd(*sys.argv[2:]) if cmd and sys.argv[2:] else __doc__)
