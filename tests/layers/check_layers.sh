#!/usr/bin/env bash
# Checks the layer rule over the source tree: a file includes only project headers of its own
# layer and the layers below it. Prints every include that runs upward and fails when one does.
#
#   app -> app/station -> kestrellib -> segwrap, outside, vantordll, sim -> platform -> kestrel
#   usbdisk -> sim (the USB disk program for virtual-machine tests, a layer above sim/)
#
# (kestrel/ is include/kestrel/, the contract under every layer; cli/ sits beside app/ and above
# app/station; tests/ and bench/ may include anything.)
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
cd "$root"

below_kestrellib="segwrap/ outside/ vantordll/ sim/ platform/ kestrel/"
# Folder (longest match first) and the include prefixes its files may use.
rules=(
    "include/kestrel/|kestrel/"
    "platform/|platform/ kestrel/"
    "sim/|sim/ platform/ kestrel/"
    "usbdisk/|usbdisk/ sim/ platform/ kestrel/"
    "segwrap/|segwrap/ outside/ vantordll/ platform/ kestrel/"
    "outside/|segwrap/ outside/ vantordll/ platform/ kestrel/"
    "vantordll/|segwrap/ outside/ vantordll/ platform/ kestrel/"
    "kestrellib/|kestrellib/ $below_kestrellib"
    "app/station/|app/station/ kestrellib/ $below_kestrellib"
    "app/|app/ kestrellib/ $below_kestrellib"
    "cli/|cli/ app/station/ kestrellib/ $below_kestrellib"
)
# Every top-level folder of project headers, so that only project includes are judged.
project_prefixes="kestrel/ platform/ sim/ usbdisk/ segwrap/ outside/ vantordll/ kestrellib/ app/ cli/"

allowed() { # allowed <include> <prefixes...>: true when the include starts with one prefix
    local include="$1"
    shift
    for prefix in "$@"; do
        [[ "$include" == "$prefix"* ]] && return 0
    done
    return 1
}

failures=0
checked=0
while IFS= read -r -d '' file; do
    rule=""
    for candidate in "${rules[@]}"; do
        if [[ "$file" == "${candidate%%|*}"* ]]; then
            rule="${candidate#*|}"
            break
        fi
    done
    [ -n "$rule" ] || continue
    checked=$((checked + 1))
    lineno=0
    while IFS= read -r line; do
        lineno=$((lineno + 1))
        [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
        include="${BASH_REMATCH[1]}"
        # shellcheck disable=SC2086
        allowed "$include" $project_prefixes || continue
        # app/station/ files may not reach the window's own app/ headers.
        if [[ "$file" == app/* && "$file" != app/station/* && "$include" == app/* ]]; then
            continue
        fi
        # shellcheck disable=SC2086
        if ! allowed "$include" $rule; then
            echo "$file:$lineno: includes \"$include\", a layer above it"
            failures=$((failures + 1))
        fi
    done < "$file"
done < <(find include platform sim usbdisk segwrap outside vantordll kestrellib app cli \
              -type f \( -name '*.h' -o -name '*.cpp' \) -print0 2>/dev/null | sort -z)

if [ "$checked" -eq 0 ]; then
    echo "no source file found under $root" >&2
    exit 2
fi
if [ "$failures" -ne 0 ]; then
    echo "$failures include(s) run upward"
    exit 1
fi
echo "layer rule holds over $checked files"
