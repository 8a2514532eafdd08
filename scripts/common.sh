# Sourced by scripts/run and scripts/test: the build folder and its set-up.
PELNOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PELNOR_PRESET=${PELNOR_PRESET:-windows}

# Build folder: $PELNOR_BUILD_DIR (relative to the repository) or build/.
build=${PELNOR_BUILD_DIR:-build}
case $build in /*) ;; *) build=$PELNOR_ROOT/$build ;; esac
export PELNOR_BUILD_DIR=$build

pelnor_configure() {
    bash "$PELNOR_ROOT/scripts/install-deps"
    if [ ! -f "$build/build.ninja" ] || [ ! -f "$build/CMakeCache.txt" ]; then
        (cd "$PELNOR_ROOT" && cmake --preset "$PELNOR_PRESET" -B "$build" -Wno-dev) || return 1
    fi
}

# New source and test files are picked up by the build itself (globs with
# CONFIGURE_DEPENDS).
pelnor_build() { # pelnor_build [TARGET...]
    local targets=()
    local t
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
}
