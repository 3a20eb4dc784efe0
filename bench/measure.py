#!/usr/bin/python3
"""Helpers of bench/run; each prints one JSON line for the table.

measure.py cpu PID                 user+sys seconds of the process so far, and its peak RSS
measure.py startup N BARE PLAYER... time launch -> exit, N runs of each, interleaved
measure.py fs-ready N SOUNDFONT    time fluidsynth takes from launch to its command prompt
measure.py render N OUT -- CMD...  user+sys seconds of CMD (median), and seconds of audio in OUT
measure.py table RESULTS           the table
"""
import json
import os
import statistics
import subprocess
import sys
import time
import wave

TICK = os.sysconf("SC_CLK_TCK")


def cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    seconds = (int(fields[11]) + int(fields[12])) / TICK   # utime, stime
    hwm = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                hwm = int(line.split()[1]) * 1024
    print(json.dumps({"cpu_s": seconds, "peak_rss": hwm, "wall": time.time()}))


def timed(cmd):
    t = time.perf_counter()
    p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if p.returncode != 0:
        raise SystemExit(f"{cmd[0]} exited with {p.returncode}")
    return time.perf_counter() - t


def startup(n, commands):
    """commands: NAME=ARGV (ARGV space-separated); run round-robin so drift hits all alike."""
    named = [(c.split("=", 1)[0], c.split("=", 1)[1].split()) for c in commands]
    times = {name: [] for name, _ in named}
    for name, argv in named:    # warm the page cache once
        timed(argv)
    for _ in range(n):
        for name, argv in named:
            times[name].append(timed(argv))
    print(json.dumps({name: statistics.median(v) for name, v in times.items()}))


def fs_ready(n, soundfont):
    times = []
    for _ in range(n + 1):
        t = time.perf_counter()
        p = subprocess.Popen(["fluidsynth", "-n", "-a", "pulseaudio", "-z", "128", "-c", "3", "-r", "44100",
                              soundfont], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        seen = b""
        while not seen.endswith(b"> "):
            b = p.stdout.read1(256)
            if not b:
                raise SystemExit("fluidsynth ended before its prompt")
            seen += b
        times.append(time.perf_counter() - t)
        p.stdin.write(b"quit\n")
        p.stdin.close()
        p.wait()
    print(json.dumps({"median_s": statistics.median(times[1:])}))


def render(n, out, cmd):
    cpu_times = []
    for _ in range(n):
        pid = os.fork()
        if pid == 0:
            fd = os.open(os.devnull, os.O_WRONLY)
            os.dup2(fd, 1)
            os.dup2(fd, 2)
            os.execvp(cmd[0], cmd)
        _, status, usage = os.wait4(pid, 0)
        if status != 0:
            raise SystemExit(f"{cmd[0]} failed ({status})")
        cpu_times.append(usage.ru_utime + usage.ru_stime)
    with wave.open(out) as w:
        audio = w.getnframes() / w.getframerate()
    print(json.dumps({"cpu_s": statistics.median(cpu_times), "audio_s": audio}))


def table(path):
    r = {}
    for line in open(path):
        key, value = line.split(" ", 1)
        r[key] = json.loads(value)
    rows = []

    def row(what, ours, ref, ratio, target, ok):
        rows.append((what, ours, ref, ratio, target, "yes" if ok else "NO" if ok is not None else "-"))

    def ms(s):
        return "%.0f ms" % (s * 1e3)

    st = r.get("startup")
    if st:
        bare = st["bare"]
        for name, label in (("player_timgm", "TimGM6mb"), ("player_fluidr3", "FluidR3_GM")):
            if name in st:
                ratio = st[name] / bare
                row(f"launch to window painted ({label})", ms(st[name]), ms(bare) + " bare window",
                    "%.2f" % ratio, "<= 1.30", ratio <= 1.3)
        if "player_nosf" in st:
            row("  same, no SoundFont to load", ms(st["player_nosf"]), ms(bare) + " bare window",
                "%.2f" % (st["player_nosf"] / bare), "-", None)
    for sf in ("TimGM6mb", "FluidR3_GM"):
        ours, ref = r.get(f"ready_md_{sf}"), r.get(f"ready_fs_{sf}")
        if ours and ref:
            ratio = ours["median_s"] / ref["median_s"]
            row(f"launch to ready to sound ({sf})", ms(ours["median_s"]),
                ms(ref["median_s"]) + " fluidsynth", "%.2f" % ratio, "-", None)
    for sf in ("TimGM6mb", "FluidR3_GM"):
        ours, ref = r.get(f"play_md_{sf}"), r.get(f"play_fs_{sf}")
        if ours and ref:
            ratio = ours["cpu_s"] / ref["cpu_s"]
            row(f"CPU playing {ours['seconds']:.0f} s dense ({sf})", "%.2f s" % ours["cpu_s"],
                "%.2f s fluidsynth" % ref["cpu_s"], "%.2f" % ratio, "<= 1.10", ratio <= 1.1)
    for key, label in (("idle_none", "CPU idle, nothing open"), ("idle_open", "CPU idle, piece open, stopped")):
        v = r.get(key)
        if v:
            pct = 100 * v["cpu_s"] / v["seconds"]
            row(f"{label} ({v['seconds']:.0f} s)", "%.2f %% core" % pct, "-", "-", "< 0.5 %", pct < 0.5)
    for sf in ("TimGM6mb", "FluidR3_GM"):
        ours, ref = r.get(f"play_md_{sf}"), r.get(f"play_fs_{sf}")
        if ours and ref:
            ratio = ours["peak_rss"] / ref["peak_rss"]
            row(f"peak RSS playing ({sf})", "%.1f MB" % (ours["peak_rss"] / 2**20),
                "%.1f MB fluidsynth" % (ref["peak_rss"] / 2**20), "%.2f" % ratio, "<= 1.10", ratio <= 1.1)
    bare_rss, fs_rss = r.get("bare_rss"), r.get("play_fs_TimGM6mb")
    if bare_rss and fs_rss:
        row("  peak RSS of the bare Qt window alone", "%.1f MB" % (bare_rss["peak_rss"] / 2**20),
            "%.1f MB fluidsynth (TimGM6mb)" % (fs_rss["peak_rss"] / 2**20),
            "%.2f" % (bare_rss["peak_rss"] / fs_rss["peak_rss"]), "-", None)
    for sf in ("TimGM6mb", "FluidR3_GM"):
        ours, ref = r.get(f"render_md_{sf}"), r.get(f"render_fs_{sf}")
        if ours and ref:
            # Both render the whole piece and its release; fluidsynth -F writes more
            # trailing silence, so seconds of audio per CPU second would flatter it.
            speed = ref["cpu_s"] / ours["cpu_s"]
            row(f"offline render, CPU for the piece ({sf})", "%.2f s" % ours["cpu_s"],
                "%.2f s fluidsynth -F" % ref["cpu_s"], "%.2f (speed)" % speed, ">= 1.00",
                speed >= 1.0)
    for who, label in (("md", "mellowdeck-render"), ("fs", "fluidsynth -F")):
        v = [x for k, x in r.items() if k.startswith(f"onsets_{who}_")]
        if v:
            complete = all(x["found"] == x["expected"] for x in v)
            worst = max((abs(x["worst_frames"]) for x in v if "worst_frames" in x), default=None)
            notes = sum(x["expected"] for x in v)
            text = "%d frames" % worst if complete and worst is not None else "onsets missing"
            if who == "md":
                ours_text, ok = text, complete and worst is not None and worst <= 64
            else:
                row(f"worst onset error, {len(v)} renders/{notes} notes", ours_text, text + " fluidsynth -F",
                    "-", "<= 64", ok)

    print_rows(HEAD, rows)
    pulse_table(r)


def print_rows(head, rows):
    widths = [max(len(str(x[i])) for x in rows + [head]) for i in range(len(head))]
    for x in [head] + rows:
        print("  ".join(str(c).ljust(w) for c, w in zip(x, widths)).rstrip())


HEAD = ("measure", "Mellowdeck", "reference", "ratio", "target", "met")
PULSE_HEAD = ("through PulseAudio, % of a core", "own output", "FluidSynth's driver",
              "fluidsynth -z 128 -c 3", "ratio", "target", "met")


def pulse_table(r):
    """Player and server CPU through the PulseAudio server, in % of a core."""
    def pct(v):
        return 100 * v["cpu_s"] / v["seconds"]

    def both(v):
        if not v:
            return "-", None
        p, s = pct(v["player"]), pct(v["server"])
        return "%.2f + %.2f = %.2f" % (p, s, p + s), p + s

    rows = []
    for key, label in (("none", "nothing open"), ("open", "song open, stopped"),
                       ("play", "playing the song"), ("stopped", "stopped, its sound over")):
        own, own_sum = both(r.get("pa_pulse_" + key))
        drv, _ = both(r.get("pa_fluid-pulseaudio_" + key))
        fs, fs_sum = both(r.get({"open": "pa_fs_open", "play": "pa_fs_play"}.get(key, "")))
        ratio, target, met = "-", "-", "-"
        if key == "play" and own_sum is not None and fs_sum:
            ratio, target = "%.2f" % (own_sum / fs_sum), "<= 0.50"
            met = "yes" if own_sum / fs_sum <= 0.5 else "NO"
        if key == "stopped" and r.get("pa_pulse_stopped"):
            player = pct(r["pa_pulse_stopped"]["player"])
            target, met = "player <= 0.10", "yes" if player <= 0.1 else "NO"
        rows.append(("  " + label + " (player + server)", own, drv, fs, ratio, target, met))
    own = r.get("pa_pulse_suspended", {}).get("seconds")
    drv = r.get("pa_fluid-pulseaudio_suspended", {}).get("seconds")
    if "pa_pulse_suspended" in r:
        secs = lambda v: "never (15 s)" if v is None else "%.1f s" % v
        rows.append(("  sink suspended after Stop", secs(own), secs(drv), "-", "-", "<= 10 s",
                     "yes" if own is not None and own <= 10 else "NO"))
    if any(x[1] != "-" for x in rows):
        print()
        print_rows(PULSE_HEAD, rows)


def main():
    what = sys.argv[1]
    if what == "cpu":
        cpu(int(sys.argv[2]))
    elif what == "startup":
        startup(int(sys.argv[2]), sys.argv[3:])
    elif what == "fs-ready":
        fs_ready(int(sys.argv[2]), sys.argv[3])
    elif what == "render":
        render(int(sys.argv[2]), sys.argv[3], sys.argv[5:])
    elif what == "table":
        table(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
