# Sourced by scripts/run and scripts/test: installs the Debian 12 packages that are missing.
# Usage: md_install_packages pkg...

md_install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What it takes to build and play.
MD_BUILD_PACKAGES=(build-essential cmake pkg-config qt6-base-dev libgl-dev
                   libfluidsynth-dev libpulse-dev libfontconfig-dev timgm6mb-soundfont fonts-dejavu-core)
# What the end-to-end session (tests/e2e/session.sh) takes: a virtual X server driven by xdotool,
# a session bus and playerctl, a PulseAudio server with its recording and control tools, PipeWire's
# PulseAudio server, Python reading X, and the accessibility bus read through pyatspi as a screen
# reader reads it.
MD_E2E_PACKAGES=(xvfb xdotool dbus-daemon pulseaudio pulseaudio-utils pipewire wireplumber pipewire-pulse
                 playerctl python3 libx11-6 at-spi2-core python3-pyatspi gir1.2-atspi-2.0)
# What the tests need beyond building: clang's libFuzzer, the package and desktop file checks
# (lintian, sox for the rendered sound), that session.
MD_TEST_PACKAGES=(clang libclang-rt-14-dev desktop-file-utils appstream lintian sox "${MD_E2E_PACKAGES[@]}")
# What scripts/package needs beyond the build: dpkg-shlibdeps, and file to find the binaries.
MD_PACKAGE_PACKAGES=(dpkg-dev file)

md_jobs() { nproc 2>/dev/null || echo 2; }
