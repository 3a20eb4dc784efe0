#!/usr/bin/env bash
# The player by keyboard and screen reader alone, heard through a sound server:
#   access.sh MELLOWDECK: File > Open by its access keys leaves the focus on Prev (access.py check);
#   Tab to Play and Space plays; Play and Stop pressed through their AT-SPI actions play and stop
set -euo pipefail
export LC_ALL=C   # a decimal point in $EPOCHREALTIME
[ $# -eq 1 ] || { echo "usage: access.sh MELLOWDECK" >&2; exit 2; }
. "$(dirname "${BASH_SOURCE[0]}")/session.sh"
md_session_begin
/usr/bin/python3 "$md_here/analyse.py" piece "$md_work/piece.mid"
# The accessibility bus, started before the player so that the player joins it.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null ||
    md_fail "no accessibility bus"
md_launch env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$(realpath "$1")"
md_keys=1 md_open_file "$md_work/piece.mid"
xdotool windowfocus --sync "$md_wid"; sleep 0.5   # no window manager: given the keyboard as a desktop would
/usr/bin/python3 "$md_here/access.py" check || md_fail "the focus after File > Open"
md_event A start+once; xdotool key Tab Tab space;   sleep 2.6   # Prev, Next, Play
/usr/bin/python3 "$md_here/access.py" press Play C start "$md_events";        sleep 0.4
/usr/bin/python3 "$md_here/access.py" press Stop C_stop stop "$md_events";    sleep 1.8
/usr/bin/python3 "$md_here/analyse.py" check "$md_work" || md_fail "what was heard is not what was pressed"
