#!/usr/bin/env bash
# Times `qvsearch TERM` from process start to the last row printed, on this
# machine's volumes: through the running service, against `plocate -i -b
# TERM` and `qvsearch --offline TERM`. Each is run RUNS times (31 by
# default) after one warm-up run; prints the median and the best in ms.
#   service/bench-service.sh BUILD_DIR [TERM]
set -euo pipefail
build=${1:?build folder}
term=${2:-report}
runs=${RUNS:-31}
qv="$build/bin/qvsearch"
work=$(mktemp -d)
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
trap 'kill $serve 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

command -v updatedb.plocate >/dev/null || { echo "bench-service: plocate is not installed (apt-get install plocate)"; exit 1; }
updatedb.plocate -o "$work/plocate.db"

# The saved index for --offline, then the service over the same volumes.
"$qv" --data "$work/data" --no-service --count x >/dev/null
"$qv" --serve --data "$work/serve-data" 2>"$work/serve.log" &
serve=$!
until "$qv" --service-only --count x >/dev/null 2>&1; do sleep 0.1; done

# Median and best wall time of a command, output thrown away.
measure() {
  python3 - "$runs" "$@" <<'PY'
import subprocess, sys, time
runs = int(sys.argv[1]); cmd = sys.argv[2:]
subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
t = []
for _ in range(runs):
    s = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    t.append((time.perf_counter() - s) * 1000)
t.sort()
print(f"median {t[len(t)//2]:.2f} ms, best {t[0]:.2f} ms")
PY
}
rows_service=$("$qv" --service-only "$term" | wc -l)
rows_plocate=$(plocate -d "$work/plocate.db" -i -b "$term" | wc -l)
echo "rows: service $rows_service, plocate $rows_plocate"
echo "qvsearch $term through the service:  $(measure "$qv" --service-only "$term")"
echo "plocate -i -b $term:                 $(measure plocate -d "$work/plocate.db" -i -b "$term")"
echo "qvsearch --offline $term:            $(measure "$qv" --offline --data "$work/data" "$term")"
