#!/usr/bin/env bash
# End-to-end test of Start, Stop and "Loop Sounds": runs the real player on a virtual display,
# presses its controls as a person would and listens to what it plays.
#
# usage: transport.sh MELLOWDECK CAPSINK
#
# Needs Xvfb, xdotool and /usr/bin/python3. Set MD_KEEP=1 to keep the work directory (capture,
# click times, logs) for a look afterwards.
set -euo pipefail
export LC_ALL=C          # a decimal point in $EPOCHREALTIME
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 2 ] || { echo "usage: transport.sh MELLOWDECK CAPSINK" >&2; exit 2; }
app="$1" capsink="$2"
. "$here/session.sh"

md_session_begin "$capsink"
piece="$md_work/piece.mid"
/usr/bin/python3 "$here/mkmidi.py" "$piece"
md_launch "$app"
md_open_file "$piece"
sleep 0.5
[ -n "${MD_KEEP:-}" ] && echo "work dir: $md_work"

# The piece lasts 1.5 s. Every wait below leaves the analysis a clear stretch to look at.
md_click btnStart A_start;            sleep 2.6     # plays once
md_click btnStart B_start1;           sleep 0.5     # restart in the middle of the second note
md_click btnStart B_start2;           sleep 2.6     # restarts, then plays once
md_click btnStart C_start;            sleep 0.7
md_click btnStop C_stop;              sleep 1.8
md_click chkLoopSounds D_check;       sleep 0.3
md_click btnStart D_start;            sleep 5.6     # four plays in a row, the fifth under way
md_click chkLoopSounds D_uncheck;     sleep 2.6     # one more play, from its beginning
md_click mmPlay E_play;               sleep 0.7
md_click mmStop E_stop;               sleep 1.8
md_click chkLoopSounds F_check;       sleep 0.3
md_click mmPlay F_play;               sleep 2.2     # from where Stop left it, then once more
md_click mmStop F_stop;               sleep 1.8

kill -0 "$md_app_pid" 2>/dev/null || { echo "FAIL: the player exited during the test" >&2;
                                       sed 's/^/  app: /' "$md_work/app.log" >&2; exit 1; }
status=0
/usr/bin/python3 "$here/analyse.py" transport "$md_work" || status=$?
if [ "$status" -ne 0 ]; then
    echo "player's output:"; sed 's/^/  app: /' "$md_work/app.log"
fi
exit "$status"
