#!/usr/bin/env bash
# The layer check itself: on a crafted tree it reports each upward include with file and line,
# and accepts includes of the own layer, the layers below and the contract.
set -euo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check_layers.sh"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{include/kestrel,platform/devices,sim,kestrellib/program,app/station,cli}
printf '#include <string>\n' > "$tree/include/kestrel/isp_job.h"
printf '#include "platform/devices/devices.h"\n#include "kestrel/isp_job.h"\n' \
    > "$tree/sim/farm.cpp"
printf '#include "kestrel/isp_job.h"\n#include "sim/farm.h"\n' > "$tree/kestrellib/program/a.cpp"
printf '#include "kestrellib/program/a.h"\n' > "$tree/app/station/run.cpp"
printf '#include "app/station/run.h"\n' > "$tree/cli/main.cpp"

out="$("$check" "$tree")" || { echo "a sound tree was refused: $out"; exit 1; }

printf '#include "platform/devices/devices.h"\n#include "sim/farm.h"\n' \
    > "$tree/platform/devices/env.cpp"
printf '#include "app/isp_job.h"\n' > "$tree/kestrellib/program/b.cpp"
printf '#include "app/kestrel_dlg.h"\n' > "$tree/app/station/view.cpp"
printf '#include "app/kestrel_dlg.h"\n' > "$tree/cli/view.cpp"
if out="$("$check" "$tree")"; then
    echo "upward includes were accepted: $out"
    exit 1
fi
for expected in 'platform/devices/env.cpp:2: includes "sim/farm.h"' \
                'kestrellib/program/b.cpp:1: includes "app/isp_job.h"' \
                'app/station/view.cpp:1: includes "app/kestrel_dlg.h"' \
                'cli/view.cpp:1: includes "app/kestrel_dlg.h"' \
                '4 include(s) run upward'; do
    grep -qF "$expected" <<< "$out" || { echo "missing: $expected"; echo "$out"; exit 1; }
done
echo "ok"
