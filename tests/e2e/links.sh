#!/usr/bin/env bash
# End to end: the player under a virtual X server, clicked like a person would.
# A stand-in xdg-open first in PATH records what each picture click hands to the
# desktop; the X server's own idea of the pointer shows whether the hand cursor
# is up over the pictures and only there.
# Usage: links.sh PATH/TO/mellowdeck
set -euo pipefail
app="$(realpath "${1:?usage: links.sh PATH/TO/mellowdeck}")"

# What the pictures open (links/Links.cpp) and the hand's hot spot (assets/Assets.h).
first=https://www.fluidsynth.org/
second=https://en.wikipedia.org/wiki/General_MIDI
hand="32x32 hot 9,1"

work="$(mktemp -d)"
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "links.sh: $*" >&2; exit 1; }

mkdir -p "$work/bin" "$work/home" "$work/xdg"
chmod 700 "$work/xdg"
cat > "$work/bin/xdg-open" <<FAKE
#!/bin/sh
{ pwd; printf '%s\n' "\$#" "\$@"; } >> "$work/opened"
FAKE
chmod +x "$work/bin/xdg-open"

# Reports the pointer's current cursor image as "WxH hot X,Y", through XFixes.
cat > "$work/cursor.py" <<'PY'
import ctypes, sys
x11 = ctypes.CDLL("libX11.so.6")
xfixes = ctypes.CDLL("libXfixes.so.3")
class Image(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("serial", ctypes.c_ulong), ("pixels", ctypes.c_void_p)]
x11.XOpenDisplay.restype = ctypes.c_void_p
xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(Image)
xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
image = xfixes.XFixesGetCursorImage(display)
if not image:
    sys.exit("no cursor image")
i = image.contents
print(f"{i.width}x{i.height} hot {i.xhot},{i.yhot}")
PY

# A virtual X server with no window manager: the window sits at 0,0 undecorated.
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(tr -dc 0-9 < "$work/display")"

(cd "$work" && exec env PATH="$work/bin:$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/xdg" \
    QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1) &
pids+=($!)
wid=""
for _ in $(seq 200); do
    wid="$(xdotool search --onlyvisible --name 'Mellowdeck' 2>/dev/null | head -n 1)" && [ -n "$wid" ] && break
    sleep 0.05
done
[ -n "$wid" ] || fail "the player window did not appear: $(cat "$work/app.log")"
sleep 0.5   # let the first paint and the pictures settle

# The client area is 173 pixels high; the menu bar above it takes the rest.
eval "$(xdotool getwindowgeometry --shell "$wid")"
menu=$((HEIGHT - 173))
[ "$menu" -gt 0 ] || fail "unexpected window height $HEIGHT"

# --sync waits for the pointer to move, which never comes if it is already there.
at=""
move() {
    [ "$at" = "$1,$2" ] || xdotool mousemove --sync "$1" $(($2 + menu))
    at="$1,$2"
    sleep 0.2
}
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3   # skips a version manager's slow shim
cursor_at() { move "$1" "$2"; cursor="$("$python" "$work/cursor.py")"; }
click_at() { move "$1" "$2"; xdotool click 1; }
opened_lines() { [ -f "$work/opened" ] && wc -l < "$work/opened" || echo 0; }
wait_lines() {
    for _ in $(seq 100); do [ "$(opened_lines)" -ge "$1" ] && return 0; sleep 0.05; done
    fail "no xdg-open after the click ($(opened_lines) lines recorded)"
}

# Cursor: the hand over both pictures, something else next to them.
cursor_at 478 40;  over_upper="$cursor"   # Image2: 410,0 137x81
cursor_at 479 120; over_lower="$cursor"   # Image1: 411,80 137x80
cursor_at 300 60;  beside="$cursor"       # a caption in the middle column
[ "$over_upper" = "$hand" ] || fail "cursor over the upper picture is $over_upper, not the hand"
[ "$over_lower" = "$hand" ] || fail "cursor over the lower picture is $over_lower, not the hand"
[ "$beside" != "$hand" ] || fail "the hand shows outside the pictures too"

# Each click hands one address to xdg-open, run from the program's directory.
appdir="$(dirname "$app")"
click_at 479 120; wait_lines 3
click_at 478 40;  wait_lines 6
click_at 478 40;  wait_lines 9    # a second click opens again
sleep 0.3
expected="$(printf '%s\n' "$appdir" 1 "$first" "$appdir" 1 "$second" "$appdir" 1 "$second")"
recorded="$(cat "$work/opened")"
[ "$recorded" = "$expected" ] || fail "xdg-open saw:
$recorded
expected:
$expected"

# A right click opens nothing.
click_right() { move "$1" "$2"; xdotool click 3; }
click_right 479 120; sleep 0.5
[ "$(opened_lines)" -eq 9 ] || fail "a right click opened a page"

kill -0 "${pids[1]}" 2>/dev/null || fail "the player exited: $(cat "$work/app.log")"
echo "links.sh: the hand over both pictures ($hand, $beside beside them); clicks opened $first and $second"
