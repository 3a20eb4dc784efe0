#!/usr/bin/env bash
# End-to-end tests of the real player, pressed as a person would and heard through a sound server.
#   player.sh transport MELLOWDECK: File > Open; Start plays once, again restarts; Stop silences and
#     rewinds; playerctl's play and stop (MPRIS); the control's own Play; File > Exit while playing
#     quits and falls silent (looping: the notes scenario)
#   player.sh suspend MELLOWDECK: the server pauses the output 5 s; the piece plays on, no error shown
#   player.sh notes MELLOWDECK: a run of pure tones played once, looped with Pause and Play, and stopped:
#     each note heard once, in order, at its time, each pass on the frame after the last ($MD_SINK: the sink).
set -euo pipefail
export LC_ALL=C   # a decimal point in $EPOCHREALTIME
[ $# -eq 2 ] || { echo "usage: player.sh transport|suspend|notes MELLOWDECK" >&2; exit 2; }
. "$(dirname "${BASH_SOURCE[0]}")/session.sh"
md_session_begin
/usr/bin/python3 "$md_here/analyse.py" "$([ "$1" = notes ] && echo run || echo piece)" "$md_work/piece.mid"
md_launch "$(realpath "$2")"
md_open_file "$md_work/piece.mid"; sleep 0.5
if [ "$1" = notes ]; then   # the run lasts 1.21 s; the control's Pause and Play are its 4th and 3rd buttons
    md_click btnStart A start+once;   sleep 2.0
    md_click chkLoopSounds;           sleep 0.3
    md_click btnStart B start;        sleep "${MD_LOOP_S:-2.9}"
    for p in 1 2 3; do
        md_click Pause P$p pause;     sleep 0.7
        md_click Play R$p play;       sleep 1.$(( 3 * p ))
    done
    md_click btnStop S stop;          sleep 1.0
    /usr/bin/python3 "$md_here/analyse.py" notes "$md_work" || md_fail "what was heard is not what was played"
    exit 0
elif [ "$1" = transport ]; then   # the piece lasts 1.5 s: each wait leaves a clear stretch to listen to
    md_click btnStart A start+once;   sleep 2.6
    md_click btnStart B1 start;       sleep 0.5   # in its second note
    md_click btnStart B2 start+once;  sleep 2.6
    md_click btnStart C start;        sleep 0.5   # in its second note: each Stop rewinds to the loud first
    md_click btnStop C_stop stop;     sleep 1.8
    md_event P_play start; playerctl -p mellowdeck play; sleep 0.5   # the desktop's media controls
    md_event P_stop stop; playerctl -p mellowdeck stop; sleep 1.8
    md_click Play F_play start;       sleep 0.5   # the control's own Play
    md_menu 2 F_exit stop
    md_tries=30 md_until eval '! kill -0 $md_app_pid' || md_fail "the player was still running 3 s after File > Exit"
    wait "$md_app_pid" || md_fail "the player quit with status $?"
    sleep 1.5
else
    md_click chkLoopSounds;           sleep 0.3
    md_click btnStart A start+loop;   sleep 2.5
    md_event suspend -
    pactl suspend-sink cap 1; sleep 5; pactl suspend-sink cap 0
    md_event resume again;            sleep 4.5
    ! grep -F "[no audio output]" "$md_work/app.log" || md_fail "the player reported the paused output as lost"
fi
/usr/bin/python3 "$md_here/analyse.py" check "$md_work" || md_fail "what was heard is not what was played"
