# Sourced by scripts/run and scripts/test: the build folders and their set-up.
#
# One source builds two programs: x86 (preset windows) in $PELNOR_BUILD_DIR,
# default build/, and x64 (preset windows-x64) in the same path with "-x64"
# appended, default build-x64/. A relative PELNOR_BUILD_DIR is taken from the
# repository.
PELNOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build_base=${PELNOR_BUILD_DIR:-build}
case $build_base in /*) ;; *) build_base=$PELNOR_ROOT/$build_base ;; esac

# pelnor_build_dir ARCH: the build folder of x86 or x64.
pelnor_build_dir() {
    if [ "$1" = x64 ]; then echo "$build_base-x64"; else echo "$build_base"; fi
}

pelnor_preset() {
    if [ "$1" = x64 ]; then echo windows-x64; else echo windows; fi
}

# pelnor_kernel_refuses_32bit: true where this kernel has its 32-bit
# emulation switched off. The 32-bit loader of the amd64 package libc6-i386
# then fails with "Exec format error"; where it is not installed yet,
# nothing is known and the answer is false.
pelnor_kernel_refuses_32bit() {
    [ -x /lib32/ld-linux.so.2 ] && ! /lib32/ld-linux.so.2 --version >/dev/null 2>&1
}

# pelnor_can_run ARCH: whether this machine runs ARCH's Windows programs; when
# not, says why in $pelnor_why.
pelnor_can_run() {
    pelnor_why=""
    if [ "$1" = x86 ]; then
        if pelnor_kernel_refuses_32bit; then
            pelnor_why="this kernel does not run 32-bit programs"
        elif [ ! -x /usr/lib/wine/wine ]; then
            pelnor_why="32-bit Wine (wine32:i386) is not installed"
        elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
            pelnor_why="32-bit Wine is installed but cannot run here"
        fi
    elif [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null 2>&1; then
        pelnor_why="64-bit Wine (wine64) is not installed"
    fi
    [ -z "$pelnor_why" ]
}

# pelnor_pick_arch: PELNOR_ARCH when set, else x86 where this machine runs
# it, else x64 (after pelnor_install_deps, which may bring 32-bit Wine).
pelnor_pick_arch() {
    case ${PELNOR_ARCH:-} in
        x86|x64) echo "$PELNOR_ARCH" ;;
        "") if pelnor_can_run x86; then echo x86; else echo x64; fi ;;
        *) echo "PELNOR_ARCH must be x86 or x64" >&2; return 2 ;;
    esac
}

pelnor_install_deps() {
    bash "$PELNOR_ROOT/scripts/install-deps"
}

# pelnor_configure ARCH
pelnor_configure() {
    local build
    build=$(pelnor_build_dir "$1")
    if [ ! -f "$build/build.ninja" ] || [ ! -f "$build/CMakeCache.txt" ]; then
        (cd "$PELNOR_ROOT" && cmake --preset "$(pelnor_preset "$1")" -B "$build" -Wno-dev) || return 1
    fi
}

# pelnor_build ARCH [TARGET...]. New source and test files are picked up by
# the build itself (globs with CONFIGURE_DEPENDS).
pelnor_build() {
    local build targets=() t
    build=$(pelnor_build_dir "$1")
    shift
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
}
