#!/usr/bin/env bash
# Makes an NTFS volume of N entries (500000 by default) with mkntfs and
# ntfs-3g, then, in one run: the raw read of its file table
# (ntfs_mft_bench), the whole time to a first answer from the raw read
# (qvsearch --root volume.img), and the walk of the same volume through the
# ntfs-3g mount by our own walker (qvsearch --root mount) and by find.
#   bench/ntfs_bench.sh BUILD_DIR [WORK_DIR] [N]
set -euo pipefail
build=$(realpath "$1")
work=${2:-/tmp/qv-ntfs-bench}
count=${3:-500000}
mkdir -p "$work"
image=$work/volume.img
mnt=$work/mnt
mkdir -p "$mnt"
if [ ! -f "$work/made-$count" ]; then
  rm -f "$image"
  truncate -s 4G "$image"
  mkntfs -F -Q -q -L bench "$image" >/dev/null 2>&1
  ntfs-3g "$image" "$mnt"
  # 1000 folders of count/1000 files each, made by one process.
  python3 - "$mnt" "$count" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
per = max(1, count // 1000)
made = 0
for d in range(1000):
    folder = os.path.join(root, "d%04d" % d)
    os.mkdir(folder)
    made += 1
    for f in range(per - 1):
        os.close(os.open(os.path.join(folder, "file_%06d.txt" % f), os.O_CREAT | os.O_WRONLY, 0o644))
        made += 1
print("made", made, "entries")
PY
  umount "$mnt"
  touch "$work/made-$count"
fi
# Each step starts cold where the machine lets us drop its page cache (root),
# and the walks each get a fresh mount.
cold() {
  sync
  echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || echo "(page cache not dropped: warm reads)"
}
t() {
  local s e
  s=$(date +%s%N)
  "$@" >/dev/null
  e=$(date +%s%N)
  echo "$(( (e - s) / 1000000 )) ms: $*"
}
data=$(mktemp -d)
trap 'umount "$mnt" 2>/dev/null || true; rm -rf "$data"' EXIT
echo "== raw file table"
cold
"$build/bench/ntfs_mft_bench" "$image"
echo "== start to first answer"
for pass in cold warm; do
  [ $pass = cold ] && cold
  t "$build/bin/qvsearch" --no-service --no-save --data "$data" --root "$image" --count file_000001
done
for walker in qvsearch find; do
  cold
  ntfs-3g -o ro "$image" "$mnt"
  if [ $walker = qvsearch ]; then
    t "$build/bin/qvsearch" --no-service --no-save --data "$data" --root "$mnt" --count file_000001
  else
    t find "$mnt" -name file_000001.txt
  fi
  umount "$mnt"
done
