#!/usr/bin/env bash
# Times a scan of a generated tree of about 2.2 million entries against the
# floor of a walk (bench/getdents_floor: two threads, getdents64, counting
# only), find and fdfind (when installed), in one run; then, when plocate
# is installed, the saved index against plocate's database of the same
# tree: qvsearch's scan and save against updatedb.plocate, and
# `qvsearch --offline` against `plocate -i -b` for a one-hit term and a
# common one (tools/bench-offline.sh). The tree and both indexes are
# removed at the end.
#
#   bench/scan_tree_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR holds bin/qvsearch and bench/getdents_floor (default
# build-scan). Prints each run's wall time and peak resident memory
# (/usr/bin/time -v), the load before and after, and one qvsearch --stats;
# each query's median and best of QUERY_RUNS (default 11).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-scan}
RUNS=${2:-3}
QV="$BUILD/bin/qvsearch"
FLOOR="$BUILD/bench/getdents_floor"
for exe in "$QV" "$FLOOR" /usr/bin/time; do
  [[ -x $exe ]] || { echo "missing $exe (ninja -C $BUILD qvsearch qvBaseModule getdents_floor)" >&2; exit 1; }
done

TREE=$(mktemp -d "${TMPDIR:-/tmp}/qv-scan-tree.XXXXXX")
DATA="$TREE.data"
PLOCATE_DB="$TREE.plocate.db"
trap 'rm -rf "$TREE" "$DATA" "$PLOCATE_DB"' EXIT

# 100 × 100 folders of 219 empty files each: 2,200,100 entries below the
# root. Names from a few words, numbers and extensions, so that the sort
# meets long shared prefixes and equal names in different folders.
python3 - "$TREE" <<'PY'
import os, sys
root = sys.argv[1]
words = ["report", "Report", "IMG", "data", "setup", "项目", "notes", "a", "draft", "v"]
exts = [".txt", ".jpg", ".c", ".tar.gz", "", ".PDF", ".h", ".json"]
for a in range(100):
    top = os.path.join(root, f"dir{a:03d}")
    os.mkdir(top)
    for b in range(100):
        leaf = os.path.join(top, f"{words[b % len(words)]}_{b:03d}")
        os.mkdir(leaf)
        for c in range(219):
            name = f"{words[(a + c) % len(words)]}_{(a * 7 + b * 13 + c) % 5000:04d}{exts[c % len(exts)]}"
            os.close(os.open(os.path.join(leaf, name), os.O_CREAT | os.O_WRONLY, 0o644))
# The one name that no other entry shares, for the one-hit queries.
os.close(os.open(os.path.join(root, "dir057", "data_003", "quixotic_notes.txt"), os.O_CREAT | os.O_WRONLY, 0o644))
PY

# Peak resident memory and wall time of one command, on one line.
timed() {
  local label=$1
  shift
  /usr/bin/time -v -o "$TREE.time" "$@" > "$TREE.out" 2>"$TREE.err" || true
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$TREE.time")
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$TREE.time")
  printf '%-10s %10s s  %8s KB  %s\n' "$label" "$wall" "$rss" "$(tr '\n' ' ' < "$TREE.out" | cut -c1-60)"
}
count_find() { find "$TREE" -xdev | wc -l; }
count_fd() { fdfind -u -j2 . "$TREE" | wc -l; }
export -f count_find count_fd
export TREE

echo "tree: $TREE, $(find "$TREE" | wc -l) entries with the root"
echo "load before: $(uptime)"
for ((run = 1; run <= RUNS; ++run)); do
  echo "run $run"
  timed qvsearch "$QV" --root "$TREE" --count x --no-save --no-service
  timed floor "$FLOOR" "$TREE" 2
  timed find bash -c count_find
  if command -v fdfind > /dev/null; then timed fdfind bash -c count_fd; fi
done
echo "qvsearch --stats:"
"$QV" --root "$TREE" --count x --no-save --no-service --stats 2>&1 >/dev/null | sed 's/^/  /'

# The saved index against plocate's database of the same tree: both made
# RUNS times (the last ones kept), then read by the queries.
if command -v plocate > /dev/null && command -v updatedb.plocate > /dev/null; then
  echo "saved indexes (load: $(cut -d' ' -f1-3 /proc/loadavg))"
  for ((run = 1; run <= RUNS; ++run)); do
    timed qv+save "$QV" --root "$TREE" --data "$DATA" --count x --no-service
    # Nothing pruned: updatedb.conf leaves /tmp out.
    timed updatedb updatedb.plocate -U "$TREE" -o "$PLOCATE_DB" -l 0 --prunepaths '' --prunenames '' --prunefs ''
  done
  echo "  ntfsqs.db $(stat -c %s "$DATA/ntfsqs.db") bytes, plocate.db $(stat -c %s "$PLOCATE_DB") bytes"
  for query in "quixotic -i -b" "report -i -b" "report -i -b -c"; do
    echo "query: $query"
    # shellcheck disable=SC2086 # the term and plocate's flags, split
    RUNS=${QUERY_RUNS:-11} ROOT="$TREE" tools/bench-offline.sh "$BUILD" "$DATA" "$PLOCATE_DB" $query | sed 's/^/  /'
  done
fi
echo "load after: $(uptime)"
rm -f "$TREE.time" "$TREE.out" "$TREE.err"
