#!/usr/bin/python3
"""Reads what `parecord --raw` writes to stdin (S16_LE stereo) and keeps it as the end-to-end
capture does: RAW holds the samples, TS lines "<first frame> <wall time>" saying when a
frame was played.

usage: parecord --raw ... | pacapture.py RAW TS RATE

A null sink plays by the system clock, so within a stretch without a pause the frames follow
one another at a steady rate. Pieces arrive late by a varying amount (up to tens of
milliseconds), so each stretch is timed by its least late pieces. A stretch ends where the
sink stopped (suspended): everything arrives a lot later from there on. The sink's own
latency adds to the lateness: record with a small one (parecord --latency-msec=2).
"""
import os
import sys
import time

FRAME = 4
PAUSE_S = 0.25     # later than the least late piece by this much: the sink had stopped


def main():
    raw_path, ts_path, rate = sys.argv[1], sys.argv[2], int(sys.argv[3])
    frames, carry, pieces = 0, b"", []     # (first frame, arrival less the frames so far)
    with open(raw_path, "wb") as raw:
        while True:
            data = os.read(0, 1 << 16)
            now = time.time()
            if not data:
                break
            data = carry + data
            whole = len(data) // FRAME * FRAME
            data, carry = data[:whole], data[whole:]
            if whole:
                raw.write(data)
                pieces.append((frames, now - (frames + whole // FRAME) / rate))
                frames += whole // FRAME
    # Stretches between pauses; in each, the least lateness of every half second, and a
    # line through those: a null sink's clock runs a little fast or slow (it rounds each
    # block's length to a microsecond), which over a minute adds up to tens of milliseconds.
    stretches, step = [], rate // 2
    for first, late in pieces:
        if not stretches or late > stretches[-1][-1][1] + PAUSE_S:
            stretches.append([[first, late]])
        elif first - stretches[-1][-1][0] >= step:
            stretches[-1].append([first, late])
        else:
            stretches[-1][-1][1] = min(stretches[-1][-1][1], late)
    with open(ts_path, "w") as ts:
        for points in stretches:
            n = len(points)
            mf = sum(f for f, _ in points) / n
            ml = sum(l for _, l in points) / n
            var = sum((f - mf) ** 2 for f, _ in points)
            slope = sum((f - mf) * (l - ml) for f, l in points) / var if var else 0.0
            # the line, lowered to pass under every point
            base = min(l - slope * (f - mf) for f, l in points)
            for f, _ in points:
                ts.write("%d %.6f\n" % (f, base + slope * (f - mf) + f / rate))

if __name__ == "__main__":
    main()
