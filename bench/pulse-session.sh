# Sourced by bench/latency and bench/run after tests/e2e/session.sh (md_session_begin has made
# the work directory): a PulseAudio server of the session's own, as on a desktop, with a null
# sink "cap" whose monitor can be recorded like the end-to-end test's capture.
#
#   md_pa_begin [MODULE...]   starts the server with these modules too (e.g.
#                             module-suspend-on-idle); exports PULSE_SERVER; sets md_pa_pid
#   md_pa_record NAME         records the sink into NAME.raw and NAME.ts (bench/pacapture.py),
#                             clicks into NAME.events; returns once the recording is steady
#   md_pa_stop_record         ends the recording and writes its timing
#   md_pa_sink_state          the sink's state: RUNNING, IDLE or SUSPENDED
#
# The processes are ended with the session's (md_pids).

md_pa_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

md_pa_begin() {
    local dir="$md_work/pulse" args m i
    mkdir -p "$dir/xdg" "$dir/home"
    chmod 700 "$dir/xdg"
    args=(--daemonize=no --exit-idle-time=-1 -n
          --load="module-null-sink sink_name=cap rate=$md_rate"
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

md_pa_record() {
    local name="$1" i
    mkfifo "$md_work/$name.fifo"
    /usr/bin/python3 "$md_pa_here/pacapture.py" "$md_work/$name.raw" "$md_work/$name.ts" \
        "$md_rate" <"$md_work/$name.fifo" &
    md_pa_capture_pid=$!
    md_pids+=("$md_pa_capture_pid")
    # A small latency: the sink then plays in blocks of 2 ms, and its monitor tells when.
    parecord --raw --format=s16le --rate="$md_rate" --channels=2 --latency-msec=2 \
        --device=cap.monitor >"$md_work/$name.fifo" 2>>"$md_work/parecord.log" &
    md_pa_record_pid=$!
    md_pids+=("$md_pa_record_pid")
    md_events="$md_work/$name.events"
    for i in $(seq 100); do [ -s "$md_work/$name.raw" ] && break; sleep 0.05; done
    # A null sink nobody has asked for a latency plays ahead in blocks of 2 s: what starts
    # before that block is over is heard late.
    sleep 2.5
}

md_pa_stop_record() {
    md_end "$md_pa_record_pid"
    wait "$md_pa_capture_pid" 2>/dev/null || true
}

md_pa_sink_state() {
    pactl list sinks short 2>/dev/null | awk '$2 == "cap" { print $NF }'
}
