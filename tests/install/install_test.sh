#!/usr/bin/env bash
# The installed station: `cmake --install` into a staging prefix, the prefix moved elsewhere, and
# the installed kestrel-cli run from there on simulated devices (demo-workspace, check,
# isp verify), loading only the installed libraries. Then the Debian package made by cpack: its
# control data, its file list, and the run-time dependencies of what it ships.
#
#   install_test.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d -t kestrel-install.XXXXXX)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# --- The installed tree, moved away from where it was installed -------------------------------
cmake --install "$build" --prefix "$work/stage/usr" > "$work/install.log"
mv "$work/stage" "$work/moved"
prefix="$work/moved/usr"
libdir=""
for candidate in "$prefix"/lib*/kestrel-station "$prefix"/lib/*/kestrel-station; do
    [ -d "$candidate" ] && libdir="${candidate#"$prefix"/}" && break
done
[ -n "$libdir" ] || fail "no lib/kestrel-station in the installed tree"

for program in kestrel-cli; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
done
for library in Kestrellib Segwrap VantorDll kzip Scrivet KestrelCopyLib; do
    [ -f "$prefix/$libdir/lib$library.so" ] || fail "lib$library.so is not in $libdir"
done
[ -f "$prefix/lib/udev/rules.d/70-kestrel-station.rules" ] || fail "the udev rule is not installed"
[ -f "$prefix/include/kestrel-station/kestrellib/program/boot_exports.h" ] ||
    fail "the exports' headers are not installed"

# Every ELF file finds the project's libraries relative to itself, never in the build tree.
while IFS= read -r -d '' file; do
    head -c 4 "$file" | grep -q 'ELF' || continue
    runpath="$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p')"
    case "$runpath" in
        '$ORIGIN' | '$ORIGIN/../'"$libdir") ;;
        *) fail "$file has the run path '$runpath'" ;;
    esac
done < <(find "$prefix/bin" "$prefix/$libdir" -type f -print0)

# The exports' headers compile on their own, each with only the installed include folder.
for header in $(cd "$prefix/include/kestrel-station" && find . -name '*.h' | sort); do
    printf '#include "%s"\n' "${header#./}" |
        c++ -std=c++20 -fsyntax-only -I "$prefix/include/kestrel-station" -x c++ - ||
        fail "the installed header $header does not compile on its own"
done

# The installed program on simulated devices, with its libraries from the moved tree only.
cli="$prefix/bin/kestrel-cli"
ws="$work/workspace"
env -u LD_LIBRARY_PATH "$cli" demo-workspace "$ws" > /dev/null
env -u LD_LIBRARY_PATH "$cli" --home "$ws" check > "$work/check.log" ||
    { cat "$work/check.log"; fail "check of the demo workspace"; }
env -u LD_LIBRARY_PATH LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/ld" \
    "$cli" --home "$ws" --sim-config "$ws/devices.ini" --sleep-scale 0 isp verify \
    > "$work/run.log" 2>&1 || { cat "$work/run.log"; fail "isp verify with the installed program"; }
grep -c 'VERIFIED' "$work/run.log" | grep -qx 8 || { cat "$work/run.log"; fail "not 8 devices verified"; }
if grep -h 'calling init:' "$work"/ld.* | grep -F "$build"; then
    fail "the installed program loaded a library from the build tree"
fi
grep -h 'calling init:' "$work"/ld.* | grep -F "$prefix/" | grep -q '/libKestrellib\.so$' ||
    fail "the installed program did not load the installed Kestrellib"

# --- The Debian package ----------------------------------------------------------------------
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" > cpack.log 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls "$work"/package/kestrel-station_*.deb)"
info="$(dpkg-deb -I "$deb")"
files="$(dpkg-deb -c "$deb")"
grep -q '^ Package: kestrel-station$' <<< "$info" || fail "package name: $info"
depends="$(sed -n 's/^ Depends: //p' <<< "$info")"
for needed in libudev1 zlib1g libstdc++6 libc6 udev; do
    grep -q "\b$needed\b" <<< "$depends" || fail "the package does not depend on $needed: $depends"
done
if [ -x "$build/app/kestrel" ]; then
    grep -q 'libqt6widgets6' <<< "$depends" || fail "no dependency on Qt 6 Widgets: $depends"
    grep -q './usr/share/applications/kestrel.desktop' <<< "$files" || fail "no desktop entry"
fi
grep -qE ' postinst( |$)' <<< "$info" || fail "no postinst script to activate the udev rule"
for path in ./usr/bin/kestrel-cli ./usr/lib/udev/rules.d/70-kestrel-station.rules \
            ./usr/share/doc/kestrel-station/docs/devices.md; do
    grep -qF " $path" <<< "$files" || fail "$path is not in the package"
done
grep -qE ' \./usr/lib/(x86_64-linux-gnu/)?kestrel-station/libKestrellib\.so$' <<< "$files" ||
    fail "libKestrellib.so is not in the package"
if command -v help2man > /dev/null; then
    grep -qF './usr/share/man/man1/kestrel-cli.1' <<< "$files" || fail "no manual page"
fi
if grep -qF "$build" <<< "$files"; then
    fail "the package names the build tree"
fi
echo "installed tree and package ok: $(basename "$deb")"
