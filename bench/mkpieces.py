#!/usr/bin/python3
"""Writes the benchmark's MIDI pieces into DIR.

usage: mkpieces.py DIR

dense.mid   45 s of General MIDI at 132 bpm on all 16 channels: arpeggios, pads, bass, a
            melody and a drum kit, about 40 note-ons a second and 60-100 voices sounding.
song.mid    100 s of an ordinary General MIDI song at 110 bpm: drums, bass, piano, strings and
            a melody, about 10 note-ons a second and 15-30 voices sounding.
tempo-*.mid short claves notes, each alone, over tempo maps that change all the time;
            tempo-*.json holds each note's onset in seconds as the tempo map puts it,
            worked out here with exact fractions.
Everything is drawn from a fixed seed, so the files are the same on every run.
"""
import json
import random
import struct
import sys
from fractions import Fraction
from pathlib import Path


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append((n & 0x7F) | 0x80)
        n >>= 7
    return bytes(reversed(out))


def track(events, end_tick):
    """events: (tick, bytes); sorted stably, note-offs before note-ons at the same tick."""
    def order(e):
        msg = e[1]
        is_on = (msg[0] & 0xF0) == 0x90 and len(msg) > 2 and msg[2] > 0
        return (e[0], 1 if is_on else 0)
    data, now = b"", 0
    for tick, msg in sorted(events, key=order):
        data += vlq(tick - now) + msg
        now = tick
    data += vlq(max(0, end_tick - now)) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data


def smf(fmt, ppq, tracks):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), ppq) + b"".join(tracks)


def tempo_msg(us_per_quarter):
    return b"\xff\x51\x03" + int(us_per_quarter).to_bytes(3, "big")


def note(events, tick, dur, ch, key, vel):
    events.append((tick, bytes([0x90 | ch, key, vel])))
    events.append((tick + dur, bytes([0x80 | ch, key, 0])))


def dense(path):
    rng = random.Random(7)
    ppq, bpm, seconds = 480, 132, 45
    beats = int(seconds * bpm / 60)
    end = beats * ppq
    tracks = [track([(0, tempo_msg(60_000_000 // bpm))], end)]
    # (channel, program, role)
    parts = [(0, 0, "arp"), (1, 4, "arp"), (2, 11, "arp"), (3, 24, "arp"), (4, 46, "arp"),
             (5, 48, "pad"), (6, 49, "pad"), (7, 52, "pad"), (8, 89, "pad"),
             (10, 33, "bass"), (11, 61, "stab"), (12, 73, "melody"), (13, 56, "melody"),
             (14, 19, "pad"), (15, 80, "melody")]
    chords = [[48, 52, 55, 59], [45, 48, 52, 55], [41, 45, 48, 52], [43, 47, 50, 53]]
    for ch, program, role in parts:
        ev = [(0, bytes([0xC0 | ch, program])), (0, bytes([0xB0 | ch, 7, 90])),
              (0, bytes([0xB0 | ch, 10, rng.randrange(20, 108)])),
              (0, bytes([0xB0 | ch, 91, 60])), (0, bytes([0xB0 | ch, 93, 30]))]
        for beat in range(beats):
            chord = chords[(beat // 4) % len(chords)]
            t = beat * ppq
            if role == "arp":
                for s in range(4):   # sixteenths over two octaves
                    key = chord[(beat * 4 + s + ch) % 4] + 12 * (1 + (s + ch) % 2)
                    note(ev, t + s * ppq // 4, ppq // 4, ch, key, rng.randrange(60, 100))
            elif role == "pad" and beat % 4 == 0:
                for key in chord:
                    note(ev, t, 4 * ppq - 10, ch, key + 12, 70)
            elif role == "bass":
                for s in range(2):
                    note(ev, t + s * ppq // 2, ppq // 2 - 20, ch, chord[0] - 12, 100)
            elif role == "stab" and beat % 2 == 1:
                for key in chord:
                    note(ev, t, ppq // 3, ch, key + 24, 90)
            elif role == "melody":
                note(ev, t + (ch % 2) * ppq // 2, ppq // 2, ch,
                     chord[rng.randrange(4)] + 24 + rng.choice([0, 2, 4]), 95)
            if beat % 8 == 7:   # some movement on every channel
                ev.append((t + ppq // 2, bytes([0xE0 | ch, 0, rng.randrange(56, 72)])))
                ev.append((t + ppq - 1, bytes([0xE0 | ch, 0, 64])))
        tracks.append(track(ev, end))
    drums = [(0, bytes([0xB0 | 9, 7, 100]))]
    for beat in range(beats):
        t = beat * ppq
        note(drums, t, ppq // 8, 9, 36 if beat % 2 == 0 else 38, 110)
        for s in range(4):
            note(drums, t + s * ppq // 4, ppq // 8, 9, 42, rng.randrange(60, 90))
        if beat % 4 == 0:
            note(drums, t, ppq // 2, 9, 49, 100)
    tracks.append(track(drums, end))
    path.write_bytes(smf(1, ppq, tracks))


def song(path):
    rng = random.Random(5)
    ppq, bpm, seconds = 480, 110, 100
    beats = int(seconds * bpm / 60) // 4 * 4
    end = beats * ppq
    chords = [[48, 52, 55], [45, 48, 52], [41, 45, 48], [43, 47, 50]]
    scale = [60, 62, 64, 65, 67, 69, 71, 72]
    ev = [(0, tempo_msg(60_000_000 // bpm))]
    for ch, program, volume in ((0, 0, 100), (1, 33, 100), (2, 48, 70), (3, 73, 95)):
        ev += [(0, bytes([0xC0 | ch, program])), (0, bytes([0xB0 | ch, 7, volume])),
               (0, bytes([0xB0 | ch, 91, 40]))]
    for beat in range(beats):
        t, chord = beat * ppq, chords[(beat // 4) % 4]
        if beat % 2 == 0:                      # piano: the chord on beats 1 and 3
            for key in chord:
                note(ev, t, 2 * ppq - 20, 0, key + 12, 80)
        for s in range(2):                     # bass: eighths on the root
            note(ev, t + s * ppq // 2, ppq // 2 - 20, 1, chord[0] - 12, 100)
        if beat % 4 == 0:                      # strings: a bar long
            for key in chord:
                note(ev, t, 4 * ppq - 20, 2, key, 70)
        if rng.random() < 0.8:                 # flute: a quarter or two eighths
            for s in range(rng.choice([1, 2])):
                note(ev, t + s * ppq // 2, ppq // 2 - 10, 3, rng.choice(scale) + 12, 90)
        note(ev, t, ppq // 8, 9, 36 if beat % 2 == 0 else 38, 110)   # kick, snare
        for s in range(2):
            note(ev, t + s * ppq // 2, ppq // 8, 9, 42, 70)          # closed hi-hat
    path.write_bytes(smf(0, ppq, [track(ev, end)]))


class TempoMap:
    """Tick -> seconds over a list of (tick, microseconds per quarter), exactly."""
    def __init__(self, ppq, changes):
        self.ppq = ppq
        self.changes = sorted(changes)

    def seconds(self, tick):
        t, last_tick, us = Fraction(0), 0, 500000   # 120 bpm until the first change
        for at, value in self.changes:
            if at >= tick:
                break
            t += Fraction(at - last_tick) * us / (self.ppq * 1_000_000)
            last_tick, us = at, value
        return t + Fraction(tick - last_tick) * us / (self.ppq * 1_000_000)


def tempo_piece(path, fmt, ppq, changes, rng, gap_s=0.3, notes=60):
    """Claves (drum key 75) at least gap_s apart, each at a tick chosen after the gap;
    dry (no reverb, no chorus) so that each onset stands alone."""
    tmap = TempoMap(ppq, changes)
    ticks, tick = [], 0
    while len(ticks) < notes:
        ticks.append(tick)
        target = tmap.seconds(tick) + Fraction(gap_s) + Fraction(rng.randrange(0, 200), 1000)
        while tmap.seconds(tick) < target:
            tick += rng.randrange(1, 7)
    end = ticks[-1] + 4 * ppq
    tempo_events = [(at, tempo_msg(us)) for at, us in changes if at < end]
    note_events = [(0, bytes([0xB9, 91, 0])), (0, bytes([0xB9, 93, 0])), (0, bytes([0xB9, 7, 127]))]
    for t in ticks:
        note(note_events, t, max(1, ppq // 16), 9, 75, 120)
    if fmt == 0:
        data = smf(0, ppq, [track(tempo_events + note_events, end)])
    else:
        data = smf(1, ppq, [track(tempo_events, end), track(note_events, end)])
    path.with_suffix(".mid").write_bytes(data)
    path.with_suffix(".json").write_text(json.dumps([float(tmap.seconds(t)) for t in ticks]))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: mkpieces.py DIR")
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    dense(out / "dense.mid")
    song(out / "song.mid")
    rng = random.Random(11)
    # A new tempo on every beat, 40 to 240 bpm.
    tempo_piece(out / "tempo-beats", 0, 480,
                [(b * 480, 60_000_000 // rng.randrange(40, 241)) for b in range(400)], rng)
    # An accelerando and ritardando by a change every 3 ticks, tempo in its own track.
    ramp = [(i * 3, int(300000 + 500000 * abs(((i % 400) - 200) / 200))) for i in range(6000)]
    tempo_piece(out / "tempo-ramp", 1, 96, ramp, rng)
    # Changes at odd ticks that fall between notes and inside the gaps, fine division.
    odd = sorted({rng.randrange(0, 200000) | 1 for _ in range(1500)})
    tempo_piece(out / "tempo-odd", 1, 960, [(t, rng.randrange(250000, 1200000)) for t in odd], rng)


if __name__ == "__main__":
    main()
