# Shared by tools/winerun and tools/xrun (sourced, not run).
#
# Every run of the program uses a private Wine prefix below the build folder,
# so the user's ~/.wine is never touched and several build folders can be used
# side by side:
#
#   $BUILD/wine/home      private HOME of the runs on the null driver and on a
#                         private Xvfb: its .asoundrc makes ALSA's null PCM the
#                         default device (one wave-out device, nothing heard)
#   $BUILD/wine/null      prefix with the null graphics driver (no X at all)
#   $BUILD/wine/x11       prefix with the X11 driver, unmanaged windows, for
#                         runs on a private Xvfb (ended with the Xvfb)
#   $BUILD/wine/x11-display  prefix for runs on the user's $DISPLAY: the user's
#                         own HOME, XDG_RUNTIME_DIR and PULSE_SERVER, Wine's
#                         usual audio driver choice (PulseAudio/PipeWire, else
#                         ALSA's default device), windows managed by the
#                         user's window manager
#
# The architecture (x86 or x64) comes from the program run (its PE header),
# else from the build folder (pelnor-arch.txt, written by CMake). x86 prefixes
# are WINEARCH=win32, x64 ones win64; a prefix made for the other
# architecture is made anew. Wine is called through a small `wine` script put
# first on PATH ($BUILD/wine/bin-ARCH/wine) that starts the architecture's own
# loader directly: Debian's /usr/bin/wine picks the 32-bit loader whenever
# wine32 is installed, even on a kernel that cannot run 32-bit code.
#
# All prefixes: FontLink from Liberation Sans and System to
# Noto Sans CJK JP (Japanese text), a regular-weight caption font, Wine's
# Marlett font for the title-bar buttons, and Japanese as the UI language
# when the ja_JP.UTF-8 locale is installed.

PELNOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Started without a standard input (CI): give Wine an empty one.
if ! { true <&0; } 2>/dev/null; then
    exec </dev/null
fi

# Bumped whenever the prefix set-up below changes: prefixes with another stamp
# are rebuilt on their next use.
PELNOR_PREFIX_STAMP=7

pelnor_die() {
    echo "${PELNOR_TOOL:-wine}: $*" >&2
    exit 125
}

# pelnor_build_folder [DIR]: the build folder to run from, made absolute: DIR,
# else $PELNOR_BUILD_DIR, else <repo>/build.
pelnor_build_folder() {
    local dir=${1:-${PELNOR_BUILD_DIR:-$PELNOR_ROOT/build}}
    case $dir in
        /*) ;;
        *) dir=$PWD/$dir ;;
    esac
    mkdir -p "$dir" || pelnor_die "cannot create build folder $dir"
    (cd "$dir" && pwd)
}

# pelnor_exe_arch FILE: x86 or x64 from a PE image's machine field; nothing
# for a file that is not one.
pelnor_exe_arch() {
    local pe machine
    [ -f "$1" ] || return 0
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$pe" ] || return 0
    machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    case $machine in
        014c) echo x86 ;;
        8664) echo x64 ;;
    esac
}

# pelnor_arch BUILD [PROGRAM]: the architecture of PROGRAM, else of BUILD,
# else x64 (the one every machine with 64-bit Wine runs).
pelnor_arch() {
    local arch
    arch=$(pelnor_exe_arch "${2:-}")
    [ -n "$arch" ] || arch=$(cat "$1/pelnor-arch.txt" 2>/dev/null)
    case $arch in
        x86|x64) echo "$arch" ;;
        *) echo x64 ;;
    esac
}

# pelnor_loader ARCH: path of Wine's loader for ARCH, checked to start here.
pelnor_loader() {
    local loader
    if [ "$1" = x64 ]; then
        loader=/usr/lib/wine/wine64
        [ -x "$loader" ] || loader=$(command -v wine64 2>/dev/null)
        [ -n "$loader" ] || pelnor_die "64-bit Wine is not installed (run scripts/install-deps)"
    else
        # Not /usr/bin/wine: with wine32 missing it starts the 64-bit loader.
        loader=/usr/lib/wine/wine
        [ -x "$loader" ] || pelnor_die "32-bit Wine is not installed: use the x64 build (build-x64/)"
    fi
    # Whatever keeps the loader from starting (a kernel without 32-bit
    # support, a broken install), say so here rather than fail in wineboot.
    "$loader" --version >/dev/null 2>&1 \
        || pelnor_die "$loader cannot run here ($1 programs cannot run on this machine); use the other build"
    echo "$loader"
}

# pelnor_wine_env BUILD KIND [PROGRAM]: exports the environment of prefix KIND
# (null|x11|x11-display) for PROGRAM's architecture (or BUILD's).
pelnor_wine_env() {
    local build=$1 kind=$2
    export PELNOR_WINE_BASE=$build/wine
    export PELNOR_ARCH
    PELNOR_ARCH=$(pelnor_arch "$build" "${3:-}")
    local loader
    loader=$(pelnor_loader "$PELNOR_ARCH") || exit 125
    export WINEPREFIX=$PELNOR_WINE_BASE/$kind
    if [ "$PELNOR_ARCH" = x86 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
    mkdir -p "$PELNOR_WINE_BASE/bin-$PELNOR_ARCH" || pelnor_die "cannot create $PELNOR_WINE_BASE"
    local shim=$PELNOR_WINE_BASE/bin-$PELNOR_ARCH/wine
    if [ "$(sed -n 3p "$shim" 2>/dev/null)" != "exec $loader \"\$@\"" ]; then
        printf '#!/bin/sh\nexport WINELOADER=%s\nexec %s "$@"\n' "$loader" "$loader" >"$shim.$$" \
            && chmod +x "$shim.$$" && mv -f "$shim.$$" "$shim" \
            || pelnor_die "cannot write $shim"
    fi
    export PATH=$PELNOR_WINE_BASE/bin-$PELNOR_ARCH:$PATH
    export WINEDEBUG=${PELNOR_WINEDEBUG:--all}
    # No Mono/Gecko installers (they would ask for a download), no menu
    # entries or file associations written for the desktop.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    pelnor_ui_locale
    # On the user's display the program plays through the desktop's sound
    # system as the user's own Wine would: their HOME (~/.asoundrc, the Pulse
    # cookie), XDG_RUNTIME_DIR (the PulseAudio/PipeWire socket), PULSE_SERVER.
    [ "$kind" = x11-display ] && return 0
    export HOME=$PELNOR_WINE_BASE/home
    # Keep sound inside ALSA's null device even on a desktop with PulseAudio.
    unset PULSE_SERVER
    export XDG_RUNTIME_DIR=$PELNOR_WINE_BASE/run
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR" 2>/dev/null || true
    if [ ! -f "$HOME/.asoundrc" ]; then
        cat >"$HOME/.asoundrc.tmp.$$" <<'EOF'
# Written by tools/wine-common.sh for the program's runs under Wine:
# ALSA's null PCM is the default device, so Wine's winealsa offers exactly
# one wave-out device that accepts every PCM format and plays nothing.
pcm.!default {
    type null
}
EOF
        mv -f "$HOME/.asoundrc.tmp.$$" "$HOME/.asoundrc"
    fi
}

# pelnor_ui_locale: Wine takes its UI language from LC_MESSAGES. Japanese
# when the ja_JP.UTF-8 locale is installed (scripts/install-deps generates
# it): message boxes without a caption of their own then read "エラー" and the
# open dialog is Japanese, like the rest of the program. LC_CTYPE, from which
# Wine takes the system locale and its code pages, stays as it is; LC_ALL
# would override LC_MESSAGES, so its value moves to LANG.
pelnor_ui_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' || return 0
    if [ -n "${LC_ALL:-}" ]; then
        export LANG=$LC_ALL
        unset LC_ALL
    fi
    export LC_MESSAGES=ja_JP.UTF-8
}

# The caption font: Wine's default (MS Shell Dlg, height -11) at regular
# weight; bold Noto CJK glyphs show as boxes.
PELNOR_CAPTION_FONT=\
f5ffffff0000000000000000000000009001000000000000000000224d00530020005300680065006c006c002000\
44006c00670000000000000000000000000000000000000000000000000000000000000000000000000000000000

# pelnor_nolock COMMAND...: runs COMMAND without the lock descriptors of
# these scripts (8, 9), so that no lingering Wine process keeps a lock.
pelnor_nolock() {
    "$@" 8>&- 9>&-
}

pelnor_reg_add() {
    pelnor_nolock wine reg add "$@" /f </dev/null >/dev/null 2>&1 \
        || pelnor_die "reg add $1 /v $3 failed in $WINEPREFIX"
}

# pelnor_marlett_install: Wine draws the minimise, maximise and close boxes
# with the Marlett font; without it they read "0 1 r". Debian's fonts-wine
# puts it in /usr/share/wine/fonts, where this Wine does not look for fonts;
# a copy in the prefix's Fonts folder is found.
pelnor_marlett_install() {
    local font
    for font in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf \
                /opt/wine*/share/wine/fonts/marlett.ttf; do
        if [ -f "$font" ]; then
            cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" \
                || pelnor_die "cannot copy $font into $WINEPREFIX"
            return 0
        fi
    done
    echo "${PELNOR_TOOL:-wine}: marlett.ttf not found (install fonts-wine): title-bar buttons show letters" >&2
}

# pelnor_prefix_create KIND: (re)creates $WINEPREFIX; caller holds the lock.
pelnor_prefix_create() {
    local kind=$1
    pelnor_nolock wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    echo "${PELNOR_TOOL:-wine}: creating $PELNOR_ARCH Wine prefix $WINEPREFIX (once, ~15 s)" >&2
    pelnor_nolock wine wineboot -i </dev/null >"$PELNOR_WINE_BASE/$kind-boot.log" 2>&1 \
        || pelnor_die "wineboot failed, see $PELNOR_WINE_BASE/$kind-boot.log"
    pelnor_nolock wineserver -w </dev/null >/dev/null 2>&1
    local graphics=null
    case $kind in x11*) graphics=x11 ;; esac
    pelnor_reg_add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d "$graphics"
    # Test runs: ALSA only (its default device is the null PCM). The user's
    # display: no Audio value, so Wine tries PulseAudio (PipeWire's too), then
    # ALSA's default device. Windows there belong to the window manager;
    # a private Xvfb has none.
    local managed=N
    if [ "$kind" = x11-display ]; then
        managed=Y
    else
        pelnor_reg_add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d alsa
    fi
    pelnor_reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$managed"
    pelnor_reg_add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y
    # Japanese glyphs: the UI font (MS Shell Dlg -> Tahoma, absent, -> Liberation
    # Sans) and the System font (controls without WM_SETFONT) link to Noto CJK.
    local face
    for face in 'Liberation Sans' System; do
        pelnor_reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK JP'
    done
    pelnor_reg_add 'HKCU\Control Panel\Desktop\WindowMetrics' \
        /v CaptionFont /t REG_BINARY /d "$PELNOR_CAPTION_FONT"
    pelnor_marlett_install
    # A crash prints winedbg's backtrace and ends the program instead of
    # waiting in a crash dialog that nobody can answer.
    pelnor_reg_add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    # Flush the registry and let the new driver take effect at the next start.
    pelnor_nolock wineserver -k </dev/null >/dev/null 2>&1 || true
    pelnor_nolock wineserver -w </dev/null >/dev/null 2>&1
    echo "$PELNOR_PREFIX_STAMP $WINEARCH" >"$WINEPREFIX/.pelnor-stamp"
}

# pelnor_prefix_ensure KIND: creates the prefix once; safe when several runs
# start at the same moment (the first creates it, the others wait).
pelnor_prefix_ensure() {
    local kind=$1 stamp_file=$WINEPREFIX/.pelnor-stamp stamp="$PELNOR_PREFIX_STAMP $WINEARCH"
    if [ -f "$stamp_file" ] && [ "$(cat "$stamp_file")" = "$stamp" ]; then
        return 0
    fi
    command -v flock >/dev/null 2>&1 || pelnor_die "flock (util-linux) is missing"
    exec 9>"$PELNOR_WINE_BASE/$kind.lock"
    flock 9
    if [ ! -f "$stamp_file" ] || [ "$(cat "$stamp_file")" != "$stamp" ]; then
        pelnor_prefix_create "$kind"
    fi
    flock -u 9
    exec 9>&-
}

# pelnor_server_warm: keeps this prefix's wineserver running between runs
# (a trivial exe then starts in well under 0.1 s). The server and Wine's
# background processes get /dev/null as stdio so that they never hold a
# caller's pipe open (ctest would otherwise wait for them).
pelnor_server_warm() {
    local persist=${PELNOR_WINESERVER_PERSIST:-600}
    if [ "$persist" = forever ]; then persist=""; fi
    pelnor_nolock setsid wineserver "-p$persist" </dev/null >/dev/null 2>&1 || true
}

# pelnor_run COMMAND...: runs COMMAND (a wine invocation) and returns its exit
# status. Wine's background processes (services.exe, explorer.exe, ...) keep
# the standard error of the program that started them open for as long as the
# wineserver lives, so a caller reading our output through a pipe (ctest,
# Python's subprocess) would wait for the server to exit. Unless the output is
# a terminal, the program therefore writes to files in the build folder that
# are copied to our stdout/stderr as they grow, until the program exits.
pelnor_run() {
    if [ -t 1 ] && [ -t 2 ]; then
        pelnor_nolock "$@"
        return
    fi
    local dir=$PELNOR_WINE_BASE/output
    mkdir -p "$dir"
    local out err
    out=$(mktemp "$dir/out.XXXXXX") && err=$(mktemp "$dir/err.XXXXXX") \
        || pelnor_die "cannot create output files in $dir"
    "$@" <&0 >"$out" 2>"$err" 8>&- 9>&- &
    local pid=$!
    # On a timeout or ^C, end the program (the Windows process is this one).
    trap 'kill -TERM '"$pid"' 2>/dev/null' TERM INT HUP
    tail -n +1 -s 0.1 -f --pid="$pid" "$out" &
    local tail_out=$!
    tail -n +1 -s 0.1 -f --pid="$pid" "$err" >&2 &
    local tail_err=$!
    local rc
    while :; do
        wait "$pid"
        rc=$?
        kill -0 "$pid" 2>/dev/null || break
    done
    trap - TERM INT HUP
    wait "$tail_out" "$tail_err" 2>/dev/null
    rm -f "$out" "$err"
    return "$rc"
}
