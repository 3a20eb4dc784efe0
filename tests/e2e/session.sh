# Sourced by transport.sh and bench/latency: one session of the real player on a virtual X
# display, its sound going to a capture read at the pace of a real card.
#
#   md_session_begin CAPSINK      work dir, Xvfb, capture; cleans up on exit
#   md_launch MELLOWDECK          starts the player with a fresh HOME, waits for its window
#   md_open_file PATH             File > Open, types PATH, Return
#   md_click NAME LABEL           clicks a control by name; appends "LABEL <wall time>" to events
#                                 (capture.events for the first capture)
#   md_capture NAME               restarts the capture into NAME.raw/.ts, events into NAME.events
#   md_end PID                    ends one process we started
#
# Every process started here is ended by its PID when the shell exits.

md_rate=44100
md_client_h=173        # the window's client area; what is above it is the menu bar
md_pids=()             # in start order; ended in reverse
md_work=""

md_log() { printf '%s %s\n' "$EPOCHREALTIME" "$*" >> "$md_work/session.log"; }

md_cleanup() {
    local i p
    for (( i=${#md_pids[@]}-1; i>=0; i-- )); do
        md_end "${md_pids[i]}"
    done
    md_pids=()
    if [ -n "$md_work" ] && [ -z "${MD_KEEP:-}" ]; then rm -rf "$md_work"; fi
}

md_session_begin() {
    local capsink="$1" dfile i tool
    for tool in Xvfb xdotool /usr/bin/python3; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/test installs it)" >&2; exit 1; }
    done
    md_work="$(mktemp -d "${TMPDIR:-/tmp}/mellowdeck-e2e.XXXXXX")"
    mkdir -p "$md_work"/home/.config "$md_work"/xdg
    chmod 700 "$md_work/xdg"
    trap md_cleanup EXIT
    trap 'exit 130' INT TERM

    # A display of our own: -displayfd picks a free number and tells us which.
    dfile="$md_work/display"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$dfile" >"$md_work/xvfb.log" 2>&1 &
    md_pids+=($!)
    for i in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.05; done
    [ -s "$dfile" ] || { echo "FAIL: Xvfb did not start" >&2; cat "$md_work/xvfb.log" >&2; return 1; }
    export DISPLAY=":$(tr -dc 0-9 < "$dfile")"

    mkfifo "$md_work/audio.fifo"
    md_capsink="$capsink"
    md_capture capture
    # ALSA_CONFIG_PATH replaces the system's configuration, so nothing else can take the sound.
    cat > "$md_work/asound.conf" <<CONF
pcm.!default {
    type plug
    slave { pcm "capture"; format S16_LE; rate $md_rate; channels 2 }
}
pcm.capture {
    type file
    slave.pcm "null"
    file "$md_work/audio.fifo"
    format "raw"
}
pcm.null { type null }
CONF
    export ALSA_CONFIG_PATH="$md_work/asound.conf"
    # No sound server: the player's first choice fails at once and it falls back to ALSA.
    export PULSE_SERVER="unix:$md_work/no-pulse-server"
    md_log "session display $DISPLAY"
}

# (Re)starts the capture into NAME.raw and NAME.ts; clicks go to NAME.events from now on. It must hold the FIFO before a player opens it, or the
# player's open blocks.
md_capture() {
    [ -n "${md_capsink_pid:-}" ] && md_end "$md_capsink_pid"
    "$md_capsink" "$md_work/audio.fifo" "$md_work/$1.raw" "$md_work/$1.ts" "$md_rate" 4096 \
        >>"$md_work/capsink.log" 2>&1 &
    md_capsink_pid=$!
    md_pids+=("$md_capsink_pid")
    md_events="$md_work/$1.events"
}

# Ends one process we started: TERM, a grace of 3 s, then KILL.
md_end() {
    local p="$1"
    kill -0 "$p" 2>/dev/null || return 0
    kill -TERM "$p" 2>/dev/null
    for _ in $(seq 30); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
}

# Waits for a visible window whose title matches; prints its id.
md_wait_window() {
    local title="$1" timeout_s="$2" pid="${3:-}" w i
    for (( i=0; i < timeout_s*10; i++ )); do
        w=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n1 || true)
        [ -n "$w" ] && { echo "$w"; return 0; }
        [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null && return 1
        sleep 0.1
    done
    return 1
}

md_launch() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    mkdir -p "$md_work/cwd"
    ( cd "$md_work/cwd" && exec env HOME="$md_work/home" XDG_CONFIG_HOME="$md_work/home/.config" \
        XDG_RUNTIME_DIR="$md_work/xdg" QT_QPA_PLATFORM=xcb "$@" ) >"$md_work/app.log" 2>&1 &
    md_app_pid=$!
    md_pids+=("$md_app_pid")
    md_wid=$(md_wait_window 'Mellowdeck' 30 "$md_app_pid") || {
        echo "FAIL: the player showed no window" >&2; sed 's/^/  app: /' "$md_work/app.log" >&2; return 1; }
    # No window manager: the window sits where it is put, without a frame.
    eval "$(xdotool getwindowgeometry --shell "$md_wid")"
    md_win_x=$X md_win_y=$Y
    md_menu_h=$(( HEIGHT - md_client_h ))
    md_log "window $md_wid at $X,$Y ${WIDTH}x$HEIGHT menu bar $md_menu_h px"
}

md_open_file() {
    local path="$1" dlg i
    xdotool windowfocus --sync "$md_wid"
    xdotool key --clearmodifiers alt+f; sleep 0.3; xdotool key --clearmodifiers o
    dlg=$(md_wait_window 'Open an MCI File' 10 "$md_app_pid") || {
        echo "FAIL: File > Open showed no dialog" >&2; return 1; }
    xdotool windowfocus --sync "$dlg"
    sleep 0.3   # the dialog fills its file list first; typing into it before that is lost
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 10 -- "$path"
    sleep 0.2
    xdotool key --clearmodifiers Return
    for i in $(seq 30); do
        xdotool search --onlyvisible --name 'Open an MCI File' >/dev/null 2>&1 || { md_log "opened $path"; return 0; }
        sleep 0.1
    done
    echo "FAIL: the Open dialog did not take $path" >&2
    return 1
}

# Client-area centres of the controls the tests press.
md_control_xy() {
    case "$1" in
        btnStart)      echo "108 22" ;;   # 88,8 41x29
        btnStop)       echo "140 22" ;;   # 128,8 25x29
        chkLoopSounds) echo "8 10" ;;     # its indicator, left of the Start button
        mmPlay)        echo "75 156" ;;   # MMControl1 at 8,144: third button of nine, x 54..79
        mmStop)        echo "179 156" ;;  # seventh button, x 158..183
        *) echo "unknown control $1" >&2; return 1 ;;
    esac
}

md_click() {
    local xy t x y X Y SCREEN WINDOW
    xy=($(md_control_xy "$1"))
    x=$(( md_win_x + xy[0] )) y=$(( md_win_y + md_menu_h + xy[1] ))
    # `mousemove --sync` to where the pointer already is waits for a motion that never comes
    eval "$(xdotool getmouselocation --shell)"
    [ "$X $Y" = "$x $y" ] || xdotool mousemove --sync "$x" "$y"
    t=$EPOCHREALTIME          # taken just before the click leaves for the X server
    xdotool click 1
    echo "$2 $t" >> "$md_events"
    md_log "click $1 as $2"
}
