# Sourced by bench/run after tests/e2e/session.sh (md_session_begin has made the work
# directory): a PulseAudio server of its own whose CPU can be measured, with a null sink "cap"
# and, if asked, module-suspend-on-idle, as on a desktop.
#
#   md_pa_begin [MODULE...]   starts the server with these modules too (e.g.
#                             module-suspend-on-idle); exports PULSE_SERVER; sets md_pa_pid
#   md_pa_sink_state          the sink's state: RUNNING, IDLE or SUSPENDED
#
# The processes are ended with the session's (md_pids).

md_pa_begin() {
    local dir="$md_work/pulse" args m i
    mkdir -p "$dir/xdg" "$dir/home"
    chmod 700 "$dir/xdg"
    args=(--daemonize=no --exit-idle-time=-1 -n
          --load="module-null-sink sink_name=cap rate=44100"
          --load="module-native-protocol-unix auth-anonymous=1")
    for m in "$@"; do args+=(--load="$m"); done
    XDG_RUNTIME_DIR="$dir/xdg" HOME="$dir/home" pulseaudio "${args[@]}" >"$dir/log" 2>&1 &
    md_pa_pid=$!
    md_pids+=("$md_pa_pid")
    export PULSE_SERVER="unix:$dir/xdg/pulse/native"
    for i in $(seq 100); do pactl info >/dev/null 2>&1 && return 0; sleep 0.05; done
    echo "FAIL: pulseaudio did not start" >&2
    cat "$dir/log" >&2
    return 1
}

md_pa_sink_state() {
    pactl list sinks short 2>/dev/null | awk '$2 == "cap" { print $NF }'
}
