#!/usr/bin/env bash
# Times `qvsearch --offline TERM` (the saved index read in place) against
# plocate in the same run, from process start to the last row printed:
#   tools/bench-offline.sh BUILD_DIR DATA_DIR PLOCATE_DB TERM [plocate args]
# DATA_DIR holds a saved index (qvsearch --data DATA_DIR --no-service --count x),
# PLOCATE_DB an updatedb.plocate database of the same tree; ROOT=DIR when
# the index was saved for --root DIR; BASELINE=PATH times another qvsearch
# binary (an older build) in the same run. Each command runs
# RUNS times (31 by default), the two interleaved, after one warm-up run;
# prints the median and the best in ms, and the load.
set -euo pipefail
build=${1:?build folder}
data=${2:?data folder}
db=${3:?plocate database}
term=${4:?term}
shift 4
plocateArgs=("$@")
[ ${#plocateArgs[@]} -gt 0 ] || plocateArgs=(-i -b)
python3 - "${RUNS:-31}" "$build/bin/qvsearch" "$data" "$db" "$term" "${plocateArgs[@]}" <<'PY'
import subprocess, sys, time
runs, qv, data, db, term, extra = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6:]
import os
root = ["--root", os.environ["ROOT"]] if os.environ.get("ROOT") else []
def offline(exe):
    return [exe, "--offline", "--no-service", "--data", data] + root + (["--count"] if "-c" in extra else []) + [term]
cmds = {"qvsearch --offline": offline(qv)}
if os.environ.get("BASELINE"):
    cmds["baseline --offline"] = offline(os.environ["BASELINE"])
cmds["plocate " + " ".join(extra)] = ["plocate", "-d", db] + extra + [term]
times = {k: [] for k in cmds}
for k, c in cmds.items():
    subprocess.run(c, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
for _ in range(runs):
    for k, c in cmds.items():
        t = time.perf_counter()
        subprocess.run(c, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times[k].append((time.perf_counter() - t) * 1000)
for k, c in cmds.items():
    out = subprocess.run(c, capture_output=True).stdout
    rows = out.count(b"\n")
    v = sorted(times[k])
    print(f"{k:36s} median {v[len(v)//2]:7.1f} ms  best {v[0]:7.1f} ms  ({rows} lines)")
PY
uptime
