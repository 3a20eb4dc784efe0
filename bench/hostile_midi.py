#!/usr/bin/python3
"""Writes a hostile MIDI file of just under 64 MiB, the largest the loader accepts: one track
of endless running status, two bytes an event, every event at the same instant.

usage: hostile_midi.py OUT.mid [program|notes]

"program": program changes (C0 running status, the most events per byte: one per two bytes).
"notes": note-on/note-off pairs (90 running status, three bytes an event).
"""
import struct
import sys

LIMIT = 64 * 1024 * 1024

out, kind = sys.argv[1], (sys.argv[2] if len(sys.argv) > 2 else "program")
header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96)
room = LIMIT - len(header) - 8
if kind == "program":
    body = bytes([0x00, 0xC0, 0x00]) + bytes([0x00, 0x05]) * ((room - 3) // 2)
else:
    pair = bytes([0x00, 0x3C, 0x64, 0x00, 0x3C, 0x00])
    body = bytes([0x00, 0x90, 0x3C, 0x64]) + pair * ((room - 4) // len(pair))
with open(out, "wb") as f:
    f.write(header + b"MTrk" + struct.pack(">I", len(body)) + body)
