#!/usr/bin/env bash
# Developer entry point:
#   ./dev.sh deps | build [preset] | test [preset] | fuzz [MINUTES] | run [args...] | release
# Presets: default, asan, tsan, release, windows (MinGW-w64 cross build, tests under Wine).
set -euo pipefail
cd "$(dirname "$0")"

# Every Debian package the project needs to build, test and run.
DEPS=(
    cmake ninja-build g++ pkg-config clang-format
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libelf-dev libudev-dev zlib1g-dev libcli11-dev
    xvfb xauth
    genromfs zstd binutils
    qemu-system-x86 linux-image-amd64 busybox-static libusbredirparser-dev cpio udev
    help2man dpkg-dev
    clang libclang-rt-dev
    g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev googletest
)

deps() {
    local missing=()
    for p in "${DEPS[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    local preset="${1:-default}"
    [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset"
    cmake --build --preset "$preset"
}

# The sanitizer presets write every report to build/<preset>/sanitizer-reports/ (log_path in
# CMakePresets.json), so a report fails the run even where a test's own outcome hides it (a child
# process whose exit status the test expects to be non-zero, a report at exit).
sanitizer_reports() {
    local dir="build/$1/sanitizer-reports"
    [ -d "$dir" ] && [ -n "$(ls -A "$dir")" ] || return 0
    echo "Sanitizer reports in $dir:" >&2
    for report in "$dir"/*; do
        echo "==== $report" >&2
        cat "$report" >&2
    done
    return 1
}

run_tests() {
    local preset="${1:-default}" status=0
    deps
    build "$preset"
    case "$preset" in
        asan | tsan)
            rm -rf "build/$preset/sanitizer-reports"
            mkdir -p "build/$preset/sanitizer-reports"
            ;;
    esac
    if [ "$preset" = windows ]; then
        run_windows_tests
        return
    fi
    ctest --preset "$preset" -j "$(nproc)" || status=$?
    sanitizer_reports "$preset" || status=1
    return "$status"
}

# `./dev.sh fuzz [MINUTES]`: builds the fuzz targets (asan preset, clang) and runs each for
# MINUTES (30 s without, as CI does), as many at once as there are processors. A failing input
# is kept in the target's artifacts folder under build/asan; check it in as a regression input
# (docs/sanitizers-and-fuzzing.md).
fuzz() {
    local minutes="${1:-}" seconds=30
    if [ -n "$minutes" ]; then
        if ! [[ "$minutes" =~ ^[0-9]+$ ]] || [ "$minutes" -eq 0 ]; then
            echo "usage: $0 fuzz [MINUTES]" >&2
            exit 2
        fi
        seconds=$((minutes * 60))
    fi
    deps
    [ -f build/asan/CMakeCache.txt ] || cmake --preset asan
    cmake --build --preset asan --target fuzz_targets
    KESTREL_FUZZ_SECONDS=$seconds ctest --test-dir build/asan -L '^fuzz$' -j "$(nproc)" \
        --output-on-failure --timeout $((seconds + 600))
}

# The windows preset's test programs run under Wine, in a Wine prefix of the build tree (made on
# first use). One Wine server is kept up for the whole run, instead of one started and stopped
# for every test program.
run_windows_tests() {
    export WINEPREFIX="$PWD/build/windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    local server=/usr/lib/wine/wineserver
    # A new prefix is made once, before the test programs start in parallel (two programs
    # making one prefix at the same time would race).
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        /usr/lib/wine/wine64 wineboot --init
        "$server" -w
    fi
    "$server" -p
    # Wine's own services (services.exe, plugplay, rpcss ...) start with the first program and
    # live as long as the server. Started here, with no ties to ctest: started by a test
    # program, they would inherit its output pipe and ctest would wait for that test forever.
    /usr/lib/wine/wine64 wineboot < /dev/null > /dev/null 2>&1
    local status=0
    ctest --preset windows -j "$(nproc)" || status=$?
    "$server" -k || true
    return $status
}

# The workspace of `./dev.sh run`: the INI files and images of the demo run, kept between runs.
demo_home() {
    local home="build/demo-home"
    mkdir -p "$home"
    [ -f "$home/isp.ini" ] || ./build/default/cli/kestrel-cli demo-workspace "$home" > /dev/null
    echo "$home"
}

# Checks a fresh demo workspace with kestrel-cli check, programs its eight simulated devices
# (different geometries, a few bad blocks) with kestrel-cli isp, reads every device back with
# kestrel-cli verify, and prints the summary.
run_demo() {
    local cli=./build/default/cli/kestrel-cli
    local ws
    ws="$(mktemp -d -t kestrel-demo.XXXXXX)"
    "$cli" demo-workspace "$ws" > /dev/null
    echo "Demo workspace: $ws"
    "$cli" --home "$ws" check
    "$cli" --home "$ws" --sim-config "$ws/devices.ini" isp verify
}

# `./dev.sh run`: the window on 8 simulated devices in the demo workspace when a display is
# available (extra arguments go to the program), the command-line demo run otherwise.
run() {
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/default/app/kestrel ]; then
        local home
        home="$(demo_home)"
        exec ./build/default/app/kestrel --simulate 8 --home "$home" "$@"
    fi
    run_demo
}

# `./dev.sh release`: the deliverables without tests or benchmarks, and the Debian package
# build/release/kestrel-station_<version>_<arch>.deb.
release() {
    build release
    cpack --preset release
}

cmd="${1:-}"
shift || true
case "$cmd" in
    deps) deps ;;
    build) deps; build "$@" ;;
    test) run_tests "$@" ;;
    fuzz) fuzz "$@" ;;
    run) deps; build; run "$@" ;;
    release) deps; release ;;
    *) echo "usage: $0 deps | build [preset] | test [preset] | fuzz [MINUTES] | run [args...] | release" >&2; exit 2 ;;
esac
