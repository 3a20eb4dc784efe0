#!/usr/bin/python3
"""Onset timing of a rendered tempo piece against the onsets its tempo map predicts.

usage: onsets.py PIECE.json OUT.wav

Prints one JSON object: notes found, notes expected, and the worst and median error in
frames. Each note is a lone, dry claves hit, so its onset is where the signal first rises
above a small threshold after a stretch of silence. The first note sits at time 0: its
detected offset is the attack of the sample itself, and is taken off every other note.
"""
import json
import sys
import wave
from array import array

QUIET = 0.025        # below this share of the loudest sample the signal counts as silence
ONSET = 0.15         # the first sample above this share after silence starts a note
MIN_SILENCE = 1500   # frames of silence that must come before an onset


def onsets(path):
    with wave.open(path) as w:
        assert w.getsampwidth() == 2 and w.getnchannels() == 2
        rate = w.getframerate()
        data = array("h", w.readframes(w.getnframes()))
    level = [max(abs(data[i]), abs(data[i + 1])) for i in range(0, len(data), 2)]
    peak = max(level, default=0)
    found, quiet_run, armed = [], MIN_SILENCE, True
    q, o = QUIET * peak, ONSET * peak
    for i, v in enumerate(level):
        if armed and v > o:
            found.append(i)
            armed, quiet_run = False, 0
        elif v < q:
            quiet_run += 1
            if quiet_run >= MIN_SILENCE:
                armed = True
        else:
            quiet_run = 0
    return found, rate


def main():
    expected = json.load(open(sys.argv[1]))
    found, rate = onsets(sys.argv[2])
    result = {"expected": len(expected), "found": len(found)}
    if len(found) == len(expected) and found:
        attack = found[0] - round(expected[0] * rate)
        errors = [f - round(e * rate) - attack for f, e in zip(found, expected)]
        worst = max(errors, key=abs)
        result.update(worst_frames=worst, median_abs_frames=sorted(abs(x) for x in errors)[len(errors) // 2],
                      attack_frames=attack)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
