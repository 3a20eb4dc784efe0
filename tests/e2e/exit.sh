#!/usr/bin/env bash
# End-to-end test of leaving while a piece plays: starts the real player on a virtual display
# over a paced audio capture, opens a piece, presses Start and chooses File > Exit while it
# sounds, RUNS times in a row. Every run must end by itself within 10 s, with exit status 0
# and nothing on its output beyond known library noise.
#
# usage: exit.sh MELLOWDECK CAPSINK [RUNS]        (RUNS default 10; MD_EXIT_RUNS too)
set -euo pipefail
export LC_ALL=C
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -ge 2 ] || { echo "usage: exit.sh MELLOWDECK CAPSINK [RUNS]" >&2; exit 2; }
app="$1" capsink="$2" runs="${3:-${MD_EXIT_RUNS:-10}}"
[[ "$runs" =~ ^[0-9]+$ ]] || { echo "exit.sh: RUNS must be a number" >&2; exit 2; }
. "$here/session.sh"

md_session_begin "$capsink"
piece="$md_work/piece.mid"
/usr/bin/python3 "$here/mkmidi.py" "$piece"

# What libraries may say on their own; anything else on the player's output is a failure.
noise='^(QStandardPaths: |qt\.qpa\.xcb: |ALSA lib |Fontconfig |$)'

# Start by the mouse, without asking X where the pointer is first: that query can name the
# Open dialog's window just as it goes away, and fail.
click_start() {
    local xy
    xy=($(md_control_xy btnStart))
    xdotool mousemove 1 1
    xdotool mousemove --sync $(( md_win_x + xy[0] )) $(( md_win_y + md_menu_h + xy[1] )) click 1
}

failures=0
for (( i = 1; i <= runs; i++ )); do
    md_launch "$app"
    md_open_file "$piece"
    click_start
    sleep "0.$(( 2 + RANDOM % 7 ))"          # somewhere in the first notes
    xdotool windowfocus --sync "$md_wid"
    xdotool key --clearmodifiers alt+f; sleep 0.2; xdotool key --clearmodifiers x
    status=""
    for _ in $(seq 100); do
        if ! kill -0 "$md_app_pid" 2>/dev/null; then
            wait "$md_app_pid" && status=0 || status=$?
            break
        fi
        sleep 0.1
    done
    if [ -z "$status" ]; then
        echo "FAIL: run $i: the player did not exit within 10 s of File > Exit" >&2
        md_end "$md_app_pid"
        status=timeout
    fi
    unset 'md_pids[-1]'   # reaped: its number may go to another process now
    extra="$(grep -Ev "$noise" "$md_work/app.log" || true)"
    if [ "$status" != 0 ] || [ -n "$extra" ]; then
        echo "FAIL: run $i: exit status $status" >&2
        [ -n "$extra" ] && echo "  unexpected output: $extra" >&2
        sed 's/^/  app: /' "$md_work/app.log" >&2
        failures=$(( failures + 1 ))
    fi
done
# The runs did play: the capture holds sound, not just silence.
loud=$(/usr/bin/python3 -c 'import sys, array; a = array.array("h", open(sys.argv[1], "rb").read()[: (1 << 26) & ~1]); print(max(map(abs, a), default=0))' "$md_work/capture.raw")
if [ "$loud" -lt 300 ]; then
    echo "FAIL: nothing was heard (peak $loud)" >&2
    failures=$(( failures + 1 ))
fi
echo "exit while playing: $runs runs, $failures failed, capture peak $loud"
[ "$failures" -eq 0 ]
