#!/usr/bin/python3
"""Writes the end-to-end test piece: a standard MIDI file (format 0) of exactly 1.5 s.

usage: mkmidi.py OUT.mid

A loud high note opens the piece at t=0 so that each start of the piece stands out in the
captured audio; two softer notes follow without a break, so that a Stop anywhere in the first
1.2 s finds a note sounding, and a rest of 0.3 s ends the piece so that the sound of each play
has faded before the next restart. 120 bpm and 480 ticks a quarter: 960 ticks a second.
"""
import struct
import sys

TPQ = 480
TICKS_PER_S = 960
LENGTH_S = 1.5
# (start s, duration s, key, velocity)
NOTES = [(0.0, 0.45, 84, 127), (0.45, 0.4, 64, 60), (0.85, 0.35, 67, 60)]


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append((n & 0x7F) | 0x80)
        n >>= 7
    return bytes(reversed(out))


def track():
    events = []
    for start, dur, key, vel in NOTES:
        events.append((round(start * TICKS_PER_S), bytes([0x90, key, vel])))
        events.append((round((start + dur) * TICKS_PER_S), bytes([0x80, key, 0])))
    events.sort(key=lambda e: (e[0], e[1][0] == 0x90))   # note-offs before note-ons at a tick
    data = vlq(0) + b"\xff\x51\x03" + (500000).to_bytes(3, "big")   # 120 bpm
    data += vlq(0) + bytes([0xC0, 0])                                # acoustic grand piano
    now = 0
    for tick, msg in events:
        data += vlq(tick - now) + msg
        now = tick
    # End of Track fixes the piece's length, after the last rest
    data += vlq(round(LENGTH_S * TICKS_PER_S) - now) + b"\xff\x2f\x00"
    return data


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: mkmidi.py OUT.mid")
    body = track()
    with open(sys.argv[1], "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, TPQ))
        f.write(b"MTrk" + struct.pack(">I", len(body)) + body)


if __name__ == "__main__":
    main()
