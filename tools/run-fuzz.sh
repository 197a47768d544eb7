#!/usr/bin/env bash
# Builds the libFuzzer targets of the saved index's readers with clang and
# the address sanitizer, and runs each for a bounded time (QV_FUZZ_SECONDS,
# 20 by default). Without clang it says so and succeeds: the fuzz run is an
# extra over the tests, not a condition of them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${QV_FUZZ_SECONDS:-20}
build=${QV_FUZZ_BUILD_DIR:-build-fuzz}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "run-fuzz: clang++ not found, fuzz targets not run"
  exit 0
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_FUZZ=ON \
  -DQV_SANITIZE=address -DQV_BUILD_APP=OFF -DQV_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" -j2 qvDbFuzz qvsearch qvBaseModule
# The fuzzer's runtime would load libstdc++ before the sanitizer's.
runtime=$(clang++ -print-file-name=libclang_rt.asan-x86_64.so)
# Seeds: the saved files of a small real tree.
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
mkdir -p "$seeds/tree/docs" "$seeds/data"
touch "$seeds/tree/docs/a.txt" "$seeds/tree/docs/b.JPG" "$seeds/tree/c.Pdf" "$seeds/tree/报告.doc"
"$build/bin/qvsearch" --root "$seeds/tree" --data "$seeds/data" --count >/dev/null
for target in db_load_fuzz db_pair_fuzz db_extcase_fuzz db_seal_fuzz query_modes_fuzz; do
  corpus="$seeds/$target"
  mkdir -p "$corpus"
  case $target in
    db_load_fuzz) cp "$seeds/data/ntfsqs.db" "$corpus/" ;;
    db_pair_fuzz)
      python3 -c 'import struct,sys; a=open(sys.argv[1],"rb").read(); b=open(sys.argv[2],"rb").read(); open(sys.argv[3],"wb").write(struct.pack("<I",len(a))+a+b)' \
        "$seeds/data/ntfsqs.db" "$seeds/data/ext.db" "$corpus/pair" ;;
    db_extcase_fuzz) cp "$seeds/data/extcase.db" "$corpus/" ;;
    db_seal_fuzz) cp "$seeds/data/seal.db" "$corpus/" ;;
    query_modes_fuzz)
      # An options byte, then the query in UTF-16LE.
      python3 -c 'import sys
for i, (o, q) in enumerate([(1, "report.pdf"), (3, "Code/SRC main"), (0x20, "src/ *.c"), (0x10, "^r.*(pdf|c)$"),
                            (0x44, "case: regex:(a+)+$"), (5, "bg"), (0x81, "*?")]):
    open(sys.argv[1] + "/q%d" % i, "wb").write(bytes([o]) + q.encode("utf-16-le"))' "$corpus" ;;
  esac
  echo "run-fuzz: $target for ${seconds}s"
  LD_PRELOAD="$runtime" "$build/tests/fuzz/$target" "$corpus" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 2>&1 |
    tail -n 3
done
ninja -C "$build" -j2 service_message_fuzz && echo "run-fuzz: service_message_fuzz for ${seconds}s" && LD_PRELOAD="$runtime" "$build/tests/fuzz/service_message_fuzz" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 2>&1 | tail -n 3
ninja -C "$build" -j2 qvNtfsFuzz && for t in ntfs_record_fuzz ntfs_volume_fuzz ntfs_usn_fuzz; do c="$seeds/$t"; mkdir -p "$c"; cp ../shared/testdata/ntfs/*MFT.bin ../shared/testdata/ntfs/*[Uu]sn* "$c/" 2>/dev/null || true; echo "run-fuzz: $t for ${seconds}s"; LD_PRELOAD="$runtime" "$build/tests/fuzz/$t" "$c" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 2>&1 | tail -n 3; done
ninja -C "$build" -j2 exclusion_rules_fuzz && c="$seeds/exclusion_rules_fuzz" && mkdir -p "$c" && printf "node_modules\n*.o\n/mnt/backup\n" > "$c/rules" && printf "a%%20b|*.o|%%FF" > "$c/value" && echo "run-fuzz: exclusion_rules_fuzz for ${seconds}s" && LD_PRELOAD="$runtime" "$build/tests/fuzz/exclusion_rules_fuzz" "$c" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 2>&1 | tail -n 3
ninja -C "$build" -j2 db_offline_fuzz && c="$seeds/db_offline_fuzz" && mkdir -p "$c" && python3 -c 'import struct,sys; a=open(sys.argv[1],"rb").read(); b=open(sys.argv[2],"rb").read(); c=open(sys.argv[3],"rb").read(); [open(sys.argv[4]+"%02x"%f,"wb").write(bytes([f])+struct.pack("<I",len(a))+a+struct.pack("<I",len(b))+b+c) for f in (0x03,0x23,0x41,0x61,0x91)]' "$seeds/data/ntfsqs.db" "$seeds/data/ext.db" "$seeds/data/extcase.db" "$c/set" && echo "run-fuzz: db_offline_fuzz for ${seconds}s" && LD_PRELOAD="$runtime" "$build/tests/fuzz/db_offline_fuzz" "$c" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 2>&1 | tail -n 3
# The trigram index: seeds are edits of the target's own index (see db_trigram_fuzz.cpp).
c="$seeds/db_trigram_fuzz" && mkdir -p "$c" && python3 -c 'import struct,sys; [open(sys.argv[1]+"/e%02x"%f,"wb").write(bytes([f])+struct.pack("<I",0xFFFFFFFF)+e) for f in (0x03,0x0a,0x13,0x22,0x4b) for e in (b"", struct.pack("<IB",300,7))]' "$c" && echo "run-fuzz: db_trigram_fuzz for ${seconds}s" && LD_PRELOAD="$runtime" "$build/tests/fuzz/db_trigram_fuzz" "$c" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 2>&1 | tail -n 3
