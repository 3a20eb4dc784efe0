# Sourced by player.sh and bench/: the player on a virtual display, with a session bus and a sound
# server of its own whose sink `cap` ($MD_SINK) is recorded; what it starts ends, newest first, on exit.
#   md_session_begin; md_launch CMD... (its output in $md_work/app.log); md_open_file PATH; md_menu ITEM
#   md_click NAME [LABEL CHECKS]; md_event LABEL CHECKS: "LABEL CHECKS <now>" to $md_events (analyse.py)
md_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
md_pids=() md_work=""

md_end() {   # TERM, 3 s of grace, KILL
    kill -TERM "$1" 2>/dev/null || return 0
    for _ in $(seq 30); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true
}
md_cleanup() {
    for (( i=${#md_pids[@]}-1; i>=0; i-- )); do md_end "${md_pids[i]}"; done
    [ -z "$md_work" ] || { [ -n "${MD_KEEP:-}" ] && echo "kept $md_work" >&2; } || rm -rf "$md_work"
}
md_fail() { echo "FAIL: $*" >&2; for f in "$md_work"/*.log; do sed "s|^|  $(basename "$f"): |" "$f" >&2; done; exit 1; }
md_until() { for _ in $(seq "${md_tries:-100}"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }

md_session_begin() {
    md_work="$(mktemp -d "${TMPDIR:-/tmp}/mellowdeck-e2e.XXXXXX")" md_events="$md_work/events"
    trap md_cleanup EXIT; trap 'exit 130' INT TERM
    export HOME="$md_work/home" XDG_CONFIG_HOME="$md_work/home/.config" XDG_RUNTIME_DIR="$md_work/xdg"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native" QT_QPA_PLATFORM=xcb
    mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$md_work/display" 2>"$md_work/xvfb.log" & md_pids+=($!)
    dbus-daemon --session --nofork --print-address=3 3>"$md_work/bus" 2>"$md_work/dbus.log" & md_pids+=($!)
    md_until test -s "$md_work/display" && md_until test -s "$md_work/bus" || md_fail "the X server or bus did not start"
    export DISPLAY=":$(tr -dc 0-9 < "$md_work/display")" DBUS_SESSION_BUS_ADDRESS="$(cat "$md_work/bus")"
    md_sound_server "${MD_SINK:-null}"
    /usr/bin/python3 "$md_here/analyse.py" record "$md_work" "$md_sink" 2>"$md_work/record.log" & md_pids+=($!)
    md_until test -s "$md_work/capture.ts" || md_fail "nothing came from the sound server's recording"
}

# The sound server and its sink `cap`, by $MD_SINK: null (PulseAudio's, which takes back what a client
# rewrites), norewinds (one that cannot), pipe (read by analyse.py at the real rate: it holds ~370 ms and
# cannot take back, as a Bluetooth headset), pipewire (PipeWire's PulseAudio server with a null sink).
md_sound_server() {
    local pa=(pulseaudio --daemonize=no --exit-idle-time=-1 -n --load="module-native-protocol-unix auth-anonymous=1")
    case "$1" in
        null) pa+=(--load="module-null-sink sink_name=cap rate=44100") ;;
        norewinds) pa+=(--load="module-null-sink sink_name=cap rate=44100 norewinds=1") ;;
        pipe) pa+=(--load="module-pipe-sink sink_name=cap file=$md_work/cap.fifo format=s16le rate=44100 channels=2") ;;
        pipewire) pa=() ;;
        *) md_fail "MD_SINK=$1: no such sink (null, norewinds, pipe, pipewire)" ;;
    esac
    if [ ${#pa[@]} -gt 0 ]; then
        "${pa[@]}" >"$md_work/pulseaudio.log" 2>&1 & md_pids+=($!)
        md_until pactl info || md_fail "the sound server did not start"
    else
        local p; for p in pipewire wireplumber pipewire-pulse; do
            "$p" >"$md_work/$p.log" 2>&1 & md_pids+=($!); sleep 0.3
        done
        md_until pactl info && md_until pactl load-module module-null-sink sink_name=cap rate=44100 &&
            md_until pactl set-default-sink cap || md_fail "PipeWire's PulseAudio server did not start"
    fi
    md_sink="$1"
}

md_launch() {
    ( mkdir -p "$md_work/cwd" && cd "$md_work/cwd" && exec "$@" ) >"$md_work/app.log" 2>&1 & md_app_pid=$!
    md_pids+=("$md_app_pid")
    md_until xdotool search --onlyvisible --name Mellowdeck || md_fail "the player showed no window"
    md_wid="$(xdotool search --onlyvisible --name Mellowdeck | head -n 1)"
    # No window manager: the window sits undecorated; above the 173 px client area is the menu bar.
    eval "$(xdotool getwindowgeometry --shell "$md_wid")"
    md_client_x=$X md_client_y=$(( Y + HEIGHT - 173 ))
}

md_open_file() {   # File > Open, clicked, or with md_keys=1 by its access keys (Alt+F, O)
    if [ -n "${md_keys:-}" ]; then xdotool windowfocus --sync "$md_wid" key --clearmodifiers alt+f o; else md_menu 1; fi
    md_until xdotool search --onlyvisible --name 'Open an MCI File' || md_fail "File > Open showed no dialog"
    sleep 0.5   # the dialog fills its file list first; typing before that is lost
    xdotool key --clearmodifiers ctrl+a type --delay 10 -- "$1"
    xdotool sleep 0.2 key --clearmodifiers Return
    md_until eval '! xdotool search --onlyvisible --name "Open an MCI File"' || md_fail "the dialog did not take $1"
    md_menu 0   # the player has then handled all that came before: it has the file open
}

md_event() { echo "$1 $2 $EPOCHREALTIME" >> "$md_events"; }
# Clicks at X Y, come from afar (--sync waits for a move); LABEL CHECKS are noted just before the click.
md_press() { xdotool mousemove 1000 700 mousemove --sync "$1" "$2"; [ -z "${3:-}" ] || md_event "$3" "$4"; xdotool click 1; }
md_click() {   # client-area points of the controls; MMControl1's Play and Stop are its 3rd and 7th buttons
    declare -A at=([btnStart]="108 22" [btnStop]="140 22" [chkLoopSounds]="8 10" [Play]="75 156" [Pause]="101 156" [Stop]="179 156"
                   [File]="20 -10")
    local xy=(${at[$1]})
    md_press $(( md_client_x + xy[0] )) $(( md_client_y + xy[1] )) "${@:2}"
}
md_popup() { menu="$(xdotool search --onlyvisible --pid "$md_app_pid" | grep -vx "$md_wid")"; }
md_menu() {   # File, then item $1 of its menu (1 Open, 2 Exit) or, for 0, File again to close the menu.
    # The menu opens once the player has handled all that came before; a click just after a dialog
    # closes can be lost, so File is clicked again while no menu comes.
    for _ in 1 2 3 4; do md_click File; md_tries=20 md_until md_popup && break; done
    md_popup || md_fail "no File menu"
    [ "$1" != 0 ] || { md_click File; md_until eval '! md_popup' || md_fail "the File menu stayed open"; return; }
    local X Y WIDTH HEIGHT SCREEN WINDOW; eval "$(xdotool getwindowgeometry --shell "$menu")"
    md_press $(( X + 30 )) $(( Y + HEIGHT * (2 * $1 - 1) / 4 )) "${@:2}"
}
