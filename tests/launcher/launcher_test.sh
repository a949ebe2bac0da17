#!/bin/bash
# Tests of the launcher, scripts/tarvikon: launcher_test.sh <case>
#
# Most cases run it against fake-emulator, which writes down its arguments,
# working directory, display depth and size, MIT-SHM, LD_PRELOAD and whether
# /dev/dsp opens, and exits with FAKE_STATUS. Displays are private Xvfb
# servers (depth 8 or 24), sound servers private PulseAudio daemons. The
# "emulator" case runs the real program inside a nested Xephyr (on an 8-bit
# display without MIT-SHM) and "emulator_direct" on a 24-bit display itself;
# both read the BASIC start screen back.
#
# Set by CTest: LAUNCHER, FAKE, BUILD_DIR, EMULATOR, HAS_X (1 when the program
# has its X user interface), SCREEN_TEXT, SHARED (holds roms/), SOURCE_DIR.
# Exit status 77 means skipped; with TARVIKON_REQUIRE_ALL=1 (as in CI) what
# would be skipped fails instead.
set -u
case_name=${1:?usage: launcher_test.sh <case>}
# TARVIKON_SHARED in the environment overrides the build's shared directory,
# as for the other tests.
SHARED=${TARVIKON_SHARED:-$SHARED}

T=$(mktemp -d "${TMPDIR:-/tmp}/tarvikon-launcher-test.XXXXXX")
server_pids=()
pulse_run=""
failures=0
checks=0

cleanup() {
    local pid
    [ -n "$pulse_run" ] && XDG_RUNTIME_DIR=$pulse_run pulseaudio --kill 2>/dev/null
    for pid in "${server_pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$T"
}
trap cleanup EXIT

skip() {
    if [ "${TARVIKON_REQUIRE_ALL:-}" = 1 ]; then
        echo "FAIL: $1 (TARVIKON_REQUIRE_ALL=1: missing is a failure)"
        exit 1
    fi
    echo "SKIP: $1"
    exit 77
}

# A check left out because a tool is missing: said, or a failure under
# TARVIKON_REQUIRE_ALL=1.
skip_check() {
    if [ "${TARVIKON_REQUIRE_ALL:-}" = 1 ]; then
        fail "$1 (TARVIKON_REQUIRE_ALL=1: missing is a failure)"
    else
        echo "skip $1"
    fi
}

need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
}

pass() {
    checks=$((checks + 1))
    echo "ok   $1"
}

fail() {
    checks=$((checks + 1))
    failures=$((failures + 1))
    echo "FAIL $1"
}

# expect <description> <expected> <actual>
expect() {
    if [ "$2" = "$3" ]; then
        pass "$1"
    else
        fail "$1"
        echo "  expected: $(printf '%q' "$2")"
        echo "  actual:   $(printf '%q' "$3")"
    fi
}

# check <description> <command...>: passes when the command succeeds.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

finish() {
    if [ "$failures" != 0 ]; then
        echo "--- the last launcher run's standard error, then its standard output:"
        cat "$T/err" "$T/out" 2>/dev/null
    fi
    echo "$((checks - failures)) passed, $failures failed"
    [ "$failures" = 0 ]
    exit $?
}

# ---- servers ----------------------------------------------------------------------

# start_xvfb <depth> [arguments]: a private X server; its name goes into $xdisplay.
start_xvfb() {
    local n="" i depth=$1
    shift
    need Xvfb
    : >"$T/xvfb.$depth"
    # -noreset: with no client left the server would reset, and a client
    # that connects meanwhile (xmessage, say) is refused.
    Xvfb -displayfd 3 -screen 0 "1024x768x$depth" -nolisten tcp -noreset "$@" 3>"$T/xvfb.$depth" >/dev/null 2>&1 &
    server_pids+=($!)
    for i in $(seq 100); do
        read -r n <"$T/xvfb.$depth"
        [ -n "$n" ] && break
        sleep 0.1
    done
    [ -n "$n" ] || skip "Xvfb at depth $depth did not start"
    xdisplay=:$n
}

# A private PulseAudio daemon with a null sink; the launcher finds it through
# XDG_RUNTIME_DIR.
start_pulse() {
    local i
    need pulseaudio pactl
    pulse_run=$T/pulse-run
    mkdir -m 700 "$pulse_run"
    export XDG_RUNTIME_DIR=$pulse_run
    unset PULSE_SERVER
    pulseaudio -n -F /dev/null --load="module-null-sink sink_name=nul" \
        --load="module-native-protocol-unix" --exit-idle-time=-1 --daemonize=yes >/dev/null 2>&1 ||
        skip "pulseaudio did not start"
    for i in $(seq 50); do
        pactl info >/dev/null 2>&1 && return
        sleep 0.1
    done
    skip "the PulseAudio daemon does not answer"
}

# No sound server anywhere the launcher could look.
no_pulse() {
    mkdir -m 700 "$T/empty-run"
    export XDG_RUNTIME_DIR=$T/empty-run
    unset PULSE_SERVER
}

pulsedsp_lib() {
    find /usr/lib /usr/lib64 -name libpulsedsp.so 2>/dev/null | head -n 1
}

# ---- fixtures -------------------------------------------------------------------

# make_roms <dir>: ROM images of the sizes the emulator reads, zero-filled.
make_roms() {
    mkdir -p "$1/roms"
    head -c 8192 /dev/zero >"$1/roms/kernel.ntsc"
    head -c 8192 /dev/zero >"$1/roms/kernel.pal"
    head -c 8192 /dev/zero >"$1/roms/basic.rom"
    head -c 4096 /dev/zero >"$1/roms/chargen.rom"
}

# A PATH with links to the commands the launcher and the fake use, less the
# ones named.
restricted_path() {
    local tool path
    mkdir -p "$T/bin"
    for tool in dirname readlink wc awk grep xdpyinfo xwininfo env mktemp seq sleep rm timeout \
        gcc uname nproc dd cat head tail ps tr Xephyr pactl; do
        case " $* " in *" $tool "*) continue ;; esac
        path=$(command -v "$tool") && ln -sf "$path" "$T/bin/$tool"
    done
    echo "$T/bin"
}

# run_launcher <args...>: runs it in $W with the fake emulator; its status goes
# into $status, its output into $T/out and $T/err, the fake's into $T/report.
run_launcher() {
    rm -f "$T/report"
    (cd "$W" && TARVIKON_BIN=${TARVIKON_BIN-$FAKE} FAKE_REPORT=$T/report "$LAUNCHER" "$@" >"$T/out" 2>"$T/err")
    status=$?
}

report() {
    [ -f "$T/report" ] && cat "$T/report"
}

# The arguments the fake received, one per line.
report_args() {
    report | sed -n 's/^arg=//p'
}

report_value() {
    report | sed -n "s/^$1=//p"
}

# wait_for <seconds> <command...>: true once the command succeeds.
wait_for() {
    local limit=$(($1 * 10)) i
    shift
    for ((i = 0; i < limit; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# server_gone <pid>: the X server with this process id has ended.
server_gone() {
    [ -n "$1" ] && ! kill -0 "$1" 2>/dev/null
}

display_free() {
    [ ! -e "/tmp/.X11-unix/X${1#:}" ] && [ ! -e "/tmp/.X${1#:}-lock" ]
}

unset LD_PRELOAD FAKE_STATUS FAKE_OPEN_DSP TARVIKON_BIN TARVIKON_DSP TARVIKON_XMESSAGE DISPLAY
W=$T/work
mkdir -p "$W" "$T/tmp"
export TMPDIR=$T/tmp

# ---- cases -----------------------------------------------------------------------

case_roms() {
    run_launcher -verbose
    expect "no roms/: status 2" 2 "$status"
    expect "no roms/: every image named, and where they go" \
        "tarvikon: missing roms/kernel.ntsc (the NTSC kernal image, 8192 bytes)
tarvikon: missing roms/kernel.pal (the PAL kernal image, 8192 bytes)
tarvikon: missing roms/basic.rom (the BASIC image, 8192 bytes)
tarvikon: missing roms/chargen.rom (the character generator image, 4096 bytes)
tarvikon: the VIC 20 ROM images kernel.ntsc, kernel.pal, basic.rom and chargen.rom go into $W/roms/
tarvikon: put them there, or start tarvikon from the directory that holds roms/" "$(cat "$T/err")"
    expect "no roms/: nothing on standard output" "" "$(cat "$T/out")"
    expect "no roms/: the emulator is not started" "" "$(report)"

    make_roms "$W"
    rm "$W/roms/kernel.pal"
    head -c 100 /dev/zero >"$W/roms/basic.rom"
    head -c 8192 /dev/zero >"$W/roms/chargen.rom"
    run_launcher
    expect "one image missing, one short: status 2" 2 "$status"
    expect "one image missing, one short: just those two named" \
        "tarvikon: missing roms/kernel.pal (the PAL kernal image, 8192 bytes)
tarvikon: roms/basic.rom is too short: 100 bytes, the BASIC image has 8192
tarvikon: the VIC 20 ROM images kernel.ntsc, kernel.pal, basic.rom and chargen.rom go into $W/roms/
tarvikon: put them there, or start tarvikon from the directory that holds roms/" "$(cat "$T/err")"
    expect "one image missing, one short: the emulator is not started" "" "$(report)"

    mkdir "$W/roms/kernel.pal"
    head -c 8192 /dev/zero >"$W/roms/basic.rom"
    run_launcher
    expect "a directory in place of an image counts as missing" \
        "tarvikon: missing roms/kernel.pal (the PAL kernal image, 8192 bytes)" "$(head -n 1 "$T/err")"

    rmdir "$W/roms/kernel.pal"
    head -c 8192 /dev/zero >"$W/roms/kernel.pal"
    run_launcher
    expect "complete ROMs (one longer than needed) pass to the display check: status 3" 3 "$status"
}

case_display() {
    make_roms "$W"
    run_launcher
    expect "DISPLAY unset: status 3" 3 "$status"
    expect "DISPLAY unset: says so" \
        "tarvikon: no X display: DISPLAY is not set; start tarvikon from a terminal of your X desktop" "$(cat "$T/err")"
    expect "DISPLAY unset: the emulator is not started" "" "$(report)"

    local n=600
    while ! display_free ":$n"; do n=$((n + 1)); done
    DISPLAY=:$n run_launcher
    expect "no server at DISPLAY: status 3" 3 "$status"
    expect "no server at DISPLAY: says so" "tarvikon: cannot open the X display :$n" "$(cat "$T/err")"

    rm -rf "$W/roms"
    run_launcher -h
    expect "-h without ROMs still needs a display" 3 "$status"
    expect "-h without ROMs: no ROM complaint" \
        "tarvikon: no X display: DISPLAY is not set; start tarvikon from a terminal of your X desktop" "$(cat "$T/err")"
}

case_direct() {
    start_xvfb 8
    make_roms "$W"
    : >"$T/dsp"
    export TARVIKON_DSP=$T/dsp DISPLAY=$xdisplay
    FAKE_STATUS=7 run_launcher -verbose "two words" "" "*" -Verbose --help x.prg
    expect "8-bit display: the emulator's status is the launcher's" 7 "$status"
    expect "8-bit display: every argument unchanged, in order" "[-verbose]
[two words]
[]
[*]
[-Verbose]
[--help]
[x.prg]" "$(report_args)"
    expect "8-bit display: runs on it directly" "$xdisplay" "$(report_value display)"
    expect "8-bit display: depth seen by the emulator" 8 "$(report_value depth)"
    expect "8-bit display: the caller's working directory" "$W" "$(report_value cwd)"
    expect "8-bit display and a sound device: nothing to say" "" "$(cat "$T/err")"
    expect "8-bit display and a sound device: nothing preloaded" "" "$(report_value preload)"

    start_xvfb 24
    DISPLAY=$xdisplay FAKE_STATUS=3 run_launcher -scale 2
    expect "24-bit display: runs on it directly" "$xdisplay 24" "$(report_value display) $(report_value depth)"
    expect "24-bit display: the emulator's status" 3 "$status"
    expect "24-bit display: nothing to say" "" "$(cat "$T/err")"

    FAKE_STATUS=255 run_launcher
    expect "status 255 (a start-up failure) passes through" 255 "$status"
    FAKE_STATUS=0 run_launcher
    expect "status 0 passes through" 0 "$status"
    expect "no arguments stay no arguments" "" "$(report_args)"

    # Started from the desktop there is no terminal: the messages also come up
    # in a window (which ends with this test's display).
    if command -v xdotool >/dev/null 2>&1 && command -v xmessage >/dev/null 2>&1; then
        rm "$W/roms/basic.rom"
        TARVIKON_XMESSAGE=1 run_launcher
        expect "TARVIKON_XMESSAGE=1 and a missing image: status 2" 2 "$status"
        check "TARVIKON_XMESSAGE=1: the messages come up in a window" \
            wait_for 10 sh -c 'xdotool search --name "^Tarvikon\$" >/dev/null 2>&1'
    fi
}

case_nested() {
    need Xephyr xdpyinfo
    start_xvfb 8 -extension MIT-SHM
    make_roms "$W"
    : >"$T/dsp"
    export TARVIKON_DSP=$T/dsp DISPLAY=$xdisplay
    local n

    FAKE_STATUS=42 run_launcher -verbose
    n=$(report_value display)
    expect "no MIT-SHM: the emulator's status is the launcher's" 42 "$status"
    expect "no MIT-SHM: says it nests one" \
        "tarvikon: the display $xdisplay has no MIT-SHM extension; running the emulator on the nested 8-bit display $n (Xephyr)" \
        "$(cat "$T/err")"
    [ -n "$n" ] && [ "$n" != "$xdisplay" ] && pass "no MIT-SHM: the emulator gets another display" ||
        fail "no MIT-SHM: the emulator gets another display ($n)"
    expect "no MIT-SHM: the nested one is 8-bit" 8 "$(report_value depth)"
    expect "no MIT-SHM: the nested one has MIT-SHM" yes "$(report_value mitshm)"
    expect "no MIT-SHM: room for the window at (150, 150)" 660x500 "$(report_value size)"
    expect "no MIT-SHM: arguments unchanged" "[-verbose]" "$(report_args)"
    check "no MIT-SHM: the nested server runs beside the emulator" [ -n "$(report_value server)" ]
    check "no MIT-SHM: the nested server is gone afterwards" server_gone "$(report_value server)"
    expect "no MIT-SHM: no temporary files left" "" "$(ls -A "$T/tmp")"

    run_launcher -highres
    expect "-highres: a nested screen for the doubled window" 1000x700 "$(report_value size)"
    run_launcher -scale 3
    expect "-scale 3: the doubled window's nested screen" 1000x700 "$(report_value size)"

    rm -rf "$W/roms"
    run_launcher -h
    expect "-h: runs without ROMs on the display itself" "$xdisplay 8" \
        "$(report_value display) $(report_value depth)"
    expect "-h: nothing to say" "" "$(cat "$T/err")"

    make_roms "$W"
    (unset DISPLAY && run_launcher -display "$xdisplay" && echo "$status" >"$T/status")
    expect "-display names the display: no nesting, DISPLAY left alone" \
        "[-display]
[$xdisplay]
display=" "$(report_args)
display=$(report_value display)"
    expect "-display: the emulator's status" 0 "$(cat "$T/status")"
}

case_nested_failure() {
    need xdpyinfo
    start_xvfb 8 -extension MIT-SHM
    make_roms "$W"
    : >"$T/dsp"
    export TARVIKON_DSP=$T/dsp DISPLAY=$xdisplay
    local path
    path=$(restricted_path Xephyr)

    PATH=$path run_launcher
    expect "no Xephyr: status 4" 4 "$status"
    expect "no Xephyr: says what to install" \
        "tarvikon: the display $xdisplay has no MIT-SHM extension; the emulator needs a TrueColor display of 15 to 32 bits or an 8-bit one with MIT-SHM
tarvikon: install Xephyr (package xserver-xephyr) to run it in a nested 8-bit window" "$(cat "$T/err")"
    expect "no Xephyr: the emulator is not started" "" "$(report)"

    mkdir "$T/broken"
    printf '#!/bin/sh\necho "Xephyr: cannot open host display" >&2\nexit 1\n' >"$T/broken/Xephyr"
    chmod +x "$T/broken/Xephyr"
    PATH=$T/broken:$PATH run_launcher
    expect "Xephyr fails: status 4" 4 "$status"
    expect "Xephyr fails: its own words, then the launcher's" \
        "Xephyr: cannot open host display
tarvikon: the display $xdisplay has no MIT-SHM extension, and the nested 8-bit X server (Xephyr) did not start" \
        "$(cat "$T/err")"
    expect "Xephyr fails: the emulator is not started" "" "$(report)"
    expect "Xephyr fails: no temporary files left" "" "$(ls -A "$T/tmp")"
}

case_sound() {
    start_xvfb 8
    make_roms "$W"
    export TARVIKON_DSP=$T/no-dsp DISPLAY=$xdisplay FAKE_OPEN_DSP=1
    local lib path

    no_pulse
    run_launcher -verbose x.prg
    expect "no device, no server: -nosound in front of the arguments" "[-nosound]
[-verbose]
[x.prg]" "$(report_args)"
    expect "no device, no server: says why" \
        "tarvikon: no $T/no-dsp and no PulseAudio or PipeWire sound server is reachable: starting with -nosound" \
        "$(cat "$T/err")"
    expect "no device, no server: nothing preloaded" "" "$(report_value preload)"

    path=$(restricted_path pactl)
    PATH=$path run_launcher
    expect "no pactl: says why" \
        "tarvikon: no $T/no-dsp and no pactl to look for a PulseAudio server (package pulseaudio-utils): starting with -nosound" \
        "$(cat "$T/err")"
    expect "no pactl: -nosound" "[-nosound]" "$(report_args)"

    : >"$T/dsp"
    TARVIKON_DSP=$T/dsp run_launcher
    expect "a sound device: nothing added, nothing said" "" "$(report_args)$(cat "$T/err")$(report_value preload)"

    start_pulse
    lib=$(pulsedsp_lib)
    [ -n "$lib" ] || skip "libpulsedsp.so is not installed"
    FAKE_STATUS=3 run_launcher -tvsound
    expect "a sound server: says where the sound goes" \
        "tarvikon: no $T/no-dsp: the sound goes to the PulseAudio server through $lib" "$(cat "$T/err")"
    expect "a sound server: PulseAudio's OSS emulation preloaded" "$lib" "$(report_value preload)"
    expect "a sound server: /dev/dsp opens in the emulator" opened "$(report_value dsp)"
    expect "a sound server: arguments unchanged" "[-tvsound]" "$(report_args)"
    expect "a sound server: the emulator's status" 3 "$status"

    LD_PRELOAD=libm.so.6 run_launcher
    expect "the caller's LD_PRELOAD is kept behind it" "$lib libm.so.6" "$(report_value preload)"

    run_launcher -nosound
    expect "-nosound given: no preload, nothing added, nothing said" "[-nosound]||" \
        "$(report_args)|$(report_value preload)|$(cat "$T/err")"
    run_launcher -NOSOUND
    expect "-NOSOUND given: the same" "[-NOSOUND]||" "$(report_args)|$(report_value preload)|$(cat "$T/err")"

    # The check itself must be able to fail: without the preload the device is missing.
    FAKE_REPORT=$T/report FAKE_OPEN_DSP=1 "$FAKE"
    expect "without the preload /dev/dsp does not open here" refused "$(report_value dsp)"
}

case_install() {
    need cmake
    start_xvfb 8
    local prefix=$T/prefix
    cmake --install "$BUILD_DIR" --prefix "$prefix" >"$T/install.log" 2>&1 ||
        { cat "$T/install.log"; fail "cmake --install"; finish; }
    local f
    for f in bin/tarvikon libexec/tarvikon/tarvikon; do
        check "installed: $f" [ -x "$prefix/$f" ]
    done
    for f in share/man/man6/tarvikon.6 share/applications/tarvikon.desktop; do
        check "installed: $f" [ -f "$prefix/$f" ]
    done
    expect "the installed launcher differs only in where it finds the binary" \
        "< installed_bin='@TARVIKON_INSTALLED_BIN@'
---
> installed_bin='../libexec/tarvikon/tarvikon'" \
        "$(diff "$LAUNCHER" "$prefix/bin/tarvikon" | grep -v '^[0-9]')"

    make_roms "$W"
    : >"$T/dsp"
    export TARVIKON_DSP=$T/dsp DISPLAY=$xdisplay
    cp "$FAKE" "$prefix/libexec/tarvikon/tarvikon"
    mkdir "$T/link"
    ln -s "$prefix/bin/tarvikon" "$T/link/tarvikon"
    for f in "$prefix/bin/tarvikon" "$T/link/tarvikon"; do
        rm -f "$T/report"
        (cd "$W" && FAKE_REPORT=$T/report FAKE_STATUS=9 "$f" -ram >"$T/out" 2>"$T/err")
        expect "installed launcher ($f) starts the installed binary" "9 [-ram] $W" \
            "$? $(report_args) $(report_value cwd)"
        expect "installed launcher ($f) builds nothing and says nothing" "" "$(cat "$T/out" "$T/err")"
    done
    rm "$prefix/libexec/tarvikon/tarvikon"
    (cd "$W" && "$prefix/bin/tarvikon" >"$T/out" 2>"$T/err")
    expect "installed binary missing: status 5" 5 "$?"
    expect "installed binary missing: says where it should be" \
        "tarvikon: the emulator is missing from $prefix/bin/../libexec/tarvikon/tarvikon; install tarvikon again" \
        "$(cat "$T/err")"

    local desktop=$prefix/share/applications/tarvikon.desktop
    expect "the desktop entry starts the launcher" "Exec=env TARVIKON_XMESSAGE=1 tarvikon %F" \
        "$(grep '^Exec=' "$desktop")"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        expect "the desktop entry is valid" "" "$(desktop-file-validate "$desktop" 2>&1)"
    else
        skip_check "desktop-file-validate is not installed"
    fi

    local man=$prefix/share/man/man6/tarvikon.6
    if ! command -v groff >/dev/null 2>&1; then
        skip_check "groff is not installed: the manual page is not checked"
        finish
    fi
    expect "the manual page formats without warnings" "" "$(LC_ALL=C.UTF-8 groff -t -man -ww -z "$man" 2>&1)"
    LC_ALL=C.UTF-8 groff -t -man -Tutf8 -P -cbou "$man" >"$T/man.txt" 2>/dev/null
    local missing="" word
    for word in NAME SYNOPSIS OPTIONS LAUNCHER KEYS FILES ENVIRONMENT DIAGNOSTICS \
        "-h, -H" "-verbose, -VERBOSE" "-ram, -RAM" "-nocfg, -NOCFG" "-nosound, -NOSOUND" \
        "-tvsound, -TVSOUND" "-joy, -JOY" "-highres, -HIGHRES" "-scale N, -SCALE N" WINDOW F9 \
        roms/kernel.ntsc roms/kernel.pal roms/basic.rom roms/chargen.rom tarvikon.rc dump.txt TARVIKON_DUMP=1 \
        Tab Control_L Alt_L BackSpace Delete Home "Page Down" "Page Up" End grave Insert equal \
        bracketright bracketleft apostrophe backslash F1 F2 F3 F4 F5 F7 F11 F12 Escape \
        "Up, KP_8" "Down, KP_2" "Left, KP_4" "Right, KP_6" Control_R "KP_1 / KP_3" "KP_7 / KP_9" \
        "Bit...must be 8 bit (256 colors) !" "Error opening /dev/dsp, you won't get sound !" \
        "failed, no joystick...use keys"; do
        grep -qF -- "$word" "$T/man.txt" || missing="$missing [$word]"
    done
    grep -qE -- '^ +-ver +[A-Z]' "$T/man.txt" || missing="$missing [-ver]"
    expect "the manual page documents options, keys, files, environment and messages" "" "$missing"
}

case_checkout() {
    need cmake
    make_roms "$W"
    export DISPLAY=:0 TARVIKON_DSP=/
    unset TARVIKON_BIN
    # A build directory made for another source tree: first configuring fails,
    # then, with a build file present, building.
    mkdir "$T/badbuild"
    echo "CMAKE_HOME_DIRECTORY:INTERNAL=$T/elsewhere" >"$T/badbuild/CMakeCache.txt"
    (cd "$W" && TARVIKON_BUILD_DIR=$T/badbuild "$LAUNCHER" >"$T/out" 2>"$T/err")
    expect "configuring fails: status 5" 5 "$?"
    expect "configuring fails: says where the log is" \
        "tarvikon: configuring the build failed; the whole log is in $T/badbuild/launcher-build.log" \
        "$(tail -n 1 "$T/err")"
    check "configuring fails: cmake's error is shown" \
        grep -q "^CMake Error: The source .* does not match the source .*elsewhere" "$T/err"
    expect "configuring fails: the emulator is not started" "" "$(report)"

    : >"$T/badbuild/build.ninja"
    (cd "$W" && TARVIKON_BUILD_DIR=$T/badbuild "$LAUNCHER" >"$T/out" 2>"$T/err")
    expect "building fails: status 5" 5 "$?"
    expect "building fails: says where the log is" \
        "tarvikon: building the emulator failed; the whole log is in $T/badbuild/launcher-build.log" \
        "$(tail -n 1 "$T/err")"

    # A build directory whose "tarvikon" target copies the fake emulator into
    # place stands in for the checkout's real one, which other tests run.
    mkdir "$T/mini"
    cat >"$T/mini/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(mini NONE)
add_custom_target(tarvikon COMMAND \${CMAKE_COMMAND} -E copy "$FAKE" "\${CMAKE_BINARY_DIR}/tarvikon")
EOF
    cmake -S "$T/mini" -B "$T/runbuild" >/dev/null 2>&1 || { fail "a stand-in build directory"; finish; }
    (cd "$W" && TARVIKON_BUILD_DIR=$T/runbuild FAKE_REPORT=$T/report "$LAUNCHER" -h >"$T/out" 2>"$T/err")
    expect "checkout: builds, then runs what it built" "0 [-h] $W" "$? $(report_args) $(report_value cwd)"
    expect "checkout: the first build is announced" \
        "tarvikon: building the emulator in $T/runbuild (the first time takes a few minutes)" "$(cat "$T/err")"
    rm "$T/report"
    (cd "$W" && TARVIKON_BUILD_DIR=$T/runbuild FAKE_REPORT=$T/report FAKE_STATUS=6 "$LAUNCHER" -h >"$T/out" 2>"$T/err")
    expect "checkout: later runs build quietly and run it" "6 [-h] " "$? $(report_args) $(cat "$T/err")"
}

# ---- the real program -----------------------------------------------------------------

kill_tree() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do kill_tree "$child"; done
    kill "$1" 2>/dev/null
}

screen_shows_ready() {
    DISPLAY=$nested xwd -root -silent >"$T/screen.xwd" 2>/dev/null &&
        "$SCREEN_TEXT" "$T/screen.xwd" "$SHARED/roms/chargen.rom" >"$T/screen.txt" &&
        grep -qx "READY." "$T/screen.txt"
}

# case_emulator [direct]
case_emulator() {
    [ "$HAS_X" = 1 ] || skip "the program is built without its X user interface"
    local f direct=${1:-}
    for f in kernel.ntsc kernel.pal basic.rom chargen.rom; do
        [ -f "$SHARED/roms/$f" ] || skip "VIC 20 ROM images not found in $SHARED/roms"
    done
    need xdotool xwd
    # A 24-bit display serves directly; one without MIT-SHM gets a nested 8-bit one.
    if [ -n "$direct" ]; then start_xvfb 24; else need Xephyr && start_xvfb 8 -extension MIT-SHM; fi
    mkdir "$W/roms"
    for f in kernel.ntsc kernel.pal basic.rom chargen.rom; do ln -s "$SHARED/roms/$f" "$W/roms/$f"; done
    export DISPLAY=$xdisplay TARVIKON_DSP=$T/no-dsp
    local sound=0
    if command -v pulseaudio >/dev/null 2>&1 && [ -n "$(pulsedsp_lib)" ]; then
        start_pulse
        sound=1
    else
        no_pulse
    fi
    # A sanitizer build must accept the preloaded library in front of its runtime.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0

    : >"$T/err"
    (cd "$W" && exec env TARVIKON_BIN="$EMULATOR" "$LAUNCHER" -verbose -nocfg >"$T/out" 2>"$T/err") &
    local lpid=$!
    nested=$xdisplay
    local server="" nest_line=""
    if [ -z "$direct" ]; then
        wait_for 15 grep -q "nested 8-bit display" "$T/err"
        nested=$(sed -n 's/.*nested 8-bit display \(:[0-9]*\) .*/\1/p' "$T/err")
        [ -n "$nested" ] && pass "the launcher nests an 8-bit display" ||
            { fail "the launcher nests an 8-bit display"; kill_tree "$lpid"; finish; }
        server=$(ps -o pid=,comm= --ppid "$lpid" | awk '$2 == "Xephyr" { print $1 }')
        nest_line="tarvikon: the display $xdisplay has no MIT-SHM extension; running the emulator on the nested 8-bit display $nested (Xephyr)
"
    fi

    local win=""
    wait_for 30 sh -c 'DISPLAY=$0 xdotool search --name "^Tarvikon for Linux V0.8\$" >"$1" 2>/dev/null' \
        "$nested" "$T/win" && win=$(head -n 1 "$T/win")
    [ -n "$win" ] && pass "the window \"Tarvikon for Linux V0.8\" appears on $nested" ||
        { fail "the window appears"; cat "$T/out" "$T/err"; kill_tree "$lpid"; finish; }

    if wait_for 60 screen_shows_ready; then
        pass "the BASIC start screen is read back from $nested"
    else
        fail "the BASIC start screen is read back"
    fi
    expect "the start screen's text" "**** TARVIKON 0.8 ****
3583 BYTES FREE
READY." "$(cat "$T/screen.txt")"

    local sound_line="tarvikon: no $T/no-dsp and no PulseAudio or PipeWire sound server is reachable: starting with -nosound"
    [ "$sound" = 1 ] && sound_line="tarvikon: no $T/no-dsp: the sound goes to the PulseAudio server through $(pulsedsp_lib)"
    expect "the launcher's messages, and nothing else on standard error" "$nest_line$sound_line" "$(cat "$T/err")"
    if [ "$sound" = 1 ]; then
        grep -q "Soundprocess sucessfully started" "$T/out" && ! grep -q "Error opening /dev/dsp" "$T/out" &&
            pass "the sound process opens /dev/dsp through PulseAudio" ||
            fail "the sound process opens /dev/dsp through PulseAudio"
        check "the emulator plays a stream on the server" [ -n "$(pactl list short sink-inputs 2>/dev/null)" ]
    else
        skip_check "no PulseAudio here: the emulator runs with -nosound"
    fi

    # Only the press: the emulator and its display may be gone before a release.
    DISPLAY=$nested xdotool mousemove --window "$win" 100 100 keydown Escape 2>/dev/null
    if wait_for 20 sh -c '! kill -0 "$0" 2>/dev/null' "$lpid"; then
        wait "$lpid"
        expect "Escape ends the emulator, and the launcher with its status" 0 "$?"
    else
        fail "Escape ends the emulator"
        kill_tree "$lpid"
    fi
    check "the emulator shut down in order" grep -q "^Exiting...$" "$T/out"
    [ -z "$direct" ] || return 0
    check "the nested server is gone afterwards" server_gone "$server"
}

case "$case_name" in
    roms | display | direct | nested | nested_failure | sound | install | checkout | emulator) "case_$case_name" ;;
    emulator_direct) case_emulator direct ;;
    *)
        echo "unknown case $case_name"
        exit 2
        ;;
esac
finish
