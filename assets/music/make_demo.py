#!/usr/bin/env python3
"""Writes mellowdeck-demo.mid, the short piece installed with Mellowdeck.

Eight bars in A minor for piano, bass and drums at 96 beats a minute (20 s),
made to loop with "Loop Sounds": every track ends exactly on the last bar
line, and the last beat is left empty so no note is still sounding when the
piece starts again. Each channel sets its own program and controllers at the
start, so a second pass sounds like the first.

The output is the same byte for byte on every run (no randomness, no dates).

Usage: make_demo.py [OUTPUT]   (default: mellowdeck-demo.mid beside this script)
"""

import os
import struct
import sys

PPQ = 480                      # ticks per quarter note
BEAT = PPQ
BAR = 4 * BEAT
BARS = 8
END = BARS * BAR
TEMPO_US = 625_000             # microseconds per quarter note: 96 bpm

PIANO, BASS, DRUMS = 0, 1, 9   # channels; 9 is the General MIDI drum channel

# Bar by bar: the piano chord (third octave up), the bass root and fifth.
HARMONY = [
    ((57, 60, 64), 45, 52),    # Am
    ((57, 60, 65), 41, 48),    # F
    ((55, 60, 64), 48, 55),    # C
    ((55, 59, 62), 43, 50),    # G
    ((57, 60, 64), 45, 52),    # Am
    ((57, 60, 65), 41, 48),    # F
    ((55, 59, 62), 43, 50),    # G
    ((56, 59, 64), 40, 47),    # E, leading back to Am at the top
]

# The tune, bar by bar: (beat, length in beats, note).
MELODY = [
    [(0, 1.5, 76), (1.5, 0.5, 74), (2, 1, 72), (3, 1, 71)],
    [(0, 1.5, 72), (1.5, 0.5, 74), (2, 2, 69)],
    [(0, 1, 67), (1, 1, 72), (2, 1.5, 76), (3.5, 0.5, 74)],
    [(0, 3, 74), (3, 1, 71)],
    [(0, 1.5, 76), (1.5, 0.5, 77), (2, 1, 76), (3, 1, 72)],
    [(0, 1.5, 77), (1.5, 0.5, 76), (2, 2, 72)],
    [(0, 1, 74), (1, 1, 71), (2, 1, 74), (3, 1, 79)],
    [(0, 1, 71), (1, 1, 74), (2, 1, 80)],   # ends on beat 3: the last beat rests
]

KICK, SNARE, CLOSED_HAT, CRASH = 36, 38, 42, 49
LOW_TOM, MID_TOM, HIGH_TOM = 45, 47, 50


def ticks(beats):
    return round(beats * BEAT)


def vlq(value):
    """A MIDI variable-length quantity."""
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


class Track:
    # At one tick: meta events, then controllers and programs, then the notes
    # that end, then the notes that start (so a repeated note is re-struck).
    META, SETUP, OFF, ON = range(4)

    def __init__(self, name):
        self.events = []
        self.meta(0, 0x03, name.encode("ascii"))

    def meta(self, tick, kind, data):
        self.events.append((tick, self.META, bytes([0xFF, kind]) + vlq(len(data)) + data))

    def setup(self, tick, *message):
        self.events.append((tick, self.SETUP, bytes(message)))

    def note(self, channel, start, length, key, velocity):
        assert 0 <= start < start + length <= END, "every note ends by the last bar line"
        self.events.append((start, self.ON, bytes([0x90 | channel, key, velocity])))
        self.events.append((start + length, self.OFF, bytes([0x80 | channel, key, 64])))

    def channel_setup(self, channel, program, volume, pan, reverb):
        self.setup(0, 0xB0 | channel, 121, 0)          # reset controllers
        if channel != DRUMS:
            self.setup(0, 0xC0 | channel, program)
        self.setup(0, 0xB0 | channel, 7, volume)
        self.setup(0, 0xB0 | channel, 10, pan)
        self.setup(0, 0xB0 | channel, 91, reverb)

    def chunk(self):
        body = bytearray()
        now = 0
        for tick, _, data in sorted(self.events, key=lambda e: (e[0], e[1])):
            body += vlq(tick - now) + data
            now = tick
        body += vlq(END - now) + b"\xFF\x2F\x00"      # end of track on the last bar line
        return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def conductor():
    t = Track("Mellowdeck demo")
    t.meta(0, 0x02, b"Mellowdeck project, MIT licence")
    t.meta(0, 0x58, bytes([4, 2, 24, 8]))            # 4/4
    t.meta(0, 0x59, bytes([0, 1]))                    # A minor
    t.meta(0, 0x51, TEMPO_US.to_bytes(3, "big"))
    return t


def piano():
    t = Track("Piano")
    t.channel_setup(PIANO, program=0, volume=92, pan=72, reverb=40)
    for bar, (chord, _, _) in enumerate(HARMONY):
        at = bar * BAR
        # A lazy off-beat comp; the last bar drops the third stab to leave room.
        hits = [(0, 1.5, 70), (1.5, 1, 58)] + ([(3, 0.75, 54)] if bar < BARS - 1 else [])
        for beat, length, velocity in hits:
            for key in chord:
                t.note(PIANO, at + ticks(beat), ticks(length), key, velocity)
        for beat, length, key in MELODY[bar]:
            velocity = 88 if beat == 0 else 76
            t.note(PIANO, at + ticks(beat), ticks(length) - 12, key, velocity)
    return t


def bass():
    t = Track("Bass")
    t.channel_setup(BASS, program=33, volume=100, pan=56, reverb=20)
    for bar, (_, root, fifth) in enumerate(HARMONY):
        at = bar * BAR
        line = [(0, 0.75, root, 96), (1.5, 0.5, root, 80), (2, 0.75, fifth, 90)]
        if bar < BARS - 1:
            line += [(3, 0.5, root + 12, 84), (3.5, 0.5, fifth, 76)]
        else:
            line += [(3, 0.5, root + 12, 84)]        # stops half a beat before the end
        for beat, length, key, velocity in line:
            t.note(BASS, at + ticks(beat), ticks(length), key, velocity)
    return t


def drums():
    t = Track("Drums")
    t.channel_setup(DRUMS, program=0, volume=96, pan=64, reverb=30)
    hit = ticks(0.25)
    for bar in range(BARS):
        at = bar * BAR
        last = bar == BARS - 1
        if bar in (0, 4):
            t.note(DRUMS, at, hit, CRASH, 90)
        for eighth in range(6 if last else 8):
            t.note(DRUMS, at + ticks(eighth / 2), hit, CLOSED_HAT, 72 if eighth % 2 == 0 else 50)
        for beat in (0, 2):
            t.note(DRUMS, at + ticks(beat), hit, KICK, 100)
        if bar % 2 == 1 and not last:
            t.note(DRUMS, at + ticks(2.5), hit, KICK, 80)
        t.note(DRUMS, at + ticks(1), hit, SNARE, 92)
        if bar == 3:
            # A tom run into the second half.
            for i, tom in enumerate((HIGH_TOM, HIGH_TOM, MID_TOM, LOW_TOM)):
                t.note(DRUMS, at + ticks(3 + i / 4), hit, tom, 84 + 4 * i)
        t.note(DRUMS, at + ticks(3), hit, SNARE, 70 if last else 94)
    return t


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "mellowdeck-demo.mid")
    tracks = [conductor(), piano(), bass(), drums()]
    data = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), PPQ)
    data += b"".join(t.chunk() for t in tracks)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
