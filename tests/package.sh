#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with apt (which must
# bring everything it needs), renders the demo piece with the installed renderer and
# starts the installed player, then removes the package and checks that nothing of it
# is left. Installs into the system: runs as root (or through sudo).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
id=io.github.mellowdeck.Mellowdeck
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
chmod 755 "$out"   # apt reads the .deb as its own unprivileged user
fail() { echo "package.sh: $*" >&2; exit 1; }

"$root/scripts/package" "$out"
deb=("$out"/mellowdeck_*.deb)
lintian --fail-on error,warning "${deb[0]}"
"${apt[@]}" install --reinstall "${deb[0]}"   # a stale install of the same version must not stay

for f in bin/mellowdeck bin/mellowdeck-render share/applications/$id.desktop \
         share/metainfo/$id.metainfo.xml share/icons/hicolor/{48x48,256x256}/apps/mellowdeck.png \
         share/icons/hicolor/scalable/apps/mellowdeck.svg share/mellowdeck/mellowdeck-demo.mid; do
    [ -s "/usr/$f" ] && dpkg -S "/usr/$f" | grep -qx "mellowdeck: /usr/$f" || fail "/usr/$f is not installed by the package"
done
# What desktops read: a warning counts as a mistake too, pedantic notes are let through.
said="$(desktop-file-validate /usr/share/applications/$id.desktop 2>&1)" && [ -z "$said" ] || fail "desktop-file-validate: $said"
said="$(appstreamcli validate --no-net --no-color /usr/share/metainfo/$id.metainfo.xml 2>&1)" &&
    ! grep -qE '^[EWI]:' <<<"$said" || fail "appstreamcli: $said"
# The renderer finds FluidSynth and a SoundFont that the package's dependencies brought.
/usr/bin/mellowdeck-render /usr/share/mellowdeck/mellowdeck-demo.mid "$out/demo.wav"
sox "$out/demo.wav" -n stat 2>&1 | awk '/^RMS +amplitude/ { ok = $3 > 0.001 } END { exit !ok }' ||
    fail "the installed renderer wrote silence"
rc=0; QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/mellowdeck || rc=$?
[ "$rc" = 124 ] || fail "the installed player exited with $rc instead of running"

dpkg -L mellowdeck >"$out/files"
"${apt[@]}" remove mellowdeck
# dpkg keeps a directory only while another package owns it or something else lies in it.
while read -r p; do
    [ -e "$p" ] || continue
    [ -d "$p" ] && { dpkg -S "$p" >/dev/null 2>&1 || [ -n "$(ls -A "$p")" ]; } || fail "$p was left behind"
done <"$out/files"
echo "package.sh: $(basename "${deb[0]}") installs, renders, starts and removes cleanly"
