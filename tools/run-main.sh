#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the search
# window where a display exists, otherwise the command-line front end over
# this machine's volumes. Arguments go to qvsearch.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
bin=${QV_BUILD_DIR:-build}/bin
# The application folder: the window, the terminal front end, the engine,
# the updater (started by the window's update offer) and the tips bubble.
echo "built in $bin:" $(cd "$bin" && ls qvSearchApp qvsearch qvBaseModule.so libqvCommon.so update qvFirsttips 2>/dev/null) >&2
if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x "$bin/qvSearchApp" ]; then
  exec "$bin/qvSearchApp"
fi
if [ $# -eq 0 ]; then set -- --count ""; fi
exec "$bin/qvsearch" "$@"
