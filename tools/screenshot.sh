#!/usr/bin/env bash
# Takes a picture of the search window after a search, under Xvfb, into
# docs/screenshot.png (or the file given). The program runs from a copy of
# the application folder in a temporary folder, indexing a small sample
# tree made there, so neither this machine's files nor the build's saved
# index are touched.
# The program sorts the result by size, largest first, and selects three
# rows before the picture is taken.
#   tools/screenshot.sh [OUTPUT.png] [QUERY]
# QV_SHOT_COLUMNS: the result list's column widths, comma-separated (name,
# folder, size, the three times, attributes); the default leaves room for
# the size column and its sort arrow inside the window.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
query=${2:-报告}
bin=${QV_BUILD_DIR:-build}/bin
for f in qvSearchApp libqvCommon.so qvBaseModule.so skin.dat; do
  [ -e "$bin/$f" ] || { echo "screenshot: $bin/$f is missing (build first)" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (tools/install-deps.sh)" >&2; exit 1; }

work=$(mktemp -d -t qvshot.XXXXXX)
trap 'rm -rf "$work"' EXIT
app="$work/app"
mkdir -p "$app" "$work/run"
chmod 700 "$work/run"
cp "$bin/qvSearchApp" "$bin/libqvCommon.so" "$bin/qvBaseModule.so" "$bin/skin.dat" "$app/"

# A sample home folder: documents, pictures, music, video and archives.
tree="$work/home/小明"
file() {  # file PATH SIZE
  mkdir -p "$(dirname "$tree/$1")"
  truncate -s "$2" "$tree/$1"
}
file "文档/2024年度工作报告.docx" 48213
file "文档/2024年度工作报告(定稿).pdf" 1268734
file "文档/季度报告/第一季度销售报告.xlsx" 88120
file "文档/季度报告/第二季度销售报告.xlsx" 91544
file "文档/季度报告/第三季度销售报告.xlsx" 90210
file "文档/季度报告/报告模板.dotx" 23311
file "文档/会议纪要.txt" 3120
file "项目/搜索引擎/设计文档.md" 15442
file "项目/搜索引擎/性能测试报告.html" 210877
file "项目/搜索引擎/build.log" 1023
file "项目/报告生成器/report_generator.py" 8812
file "项目/报告生成器/README.md" 2240
file "图片/旅行/海边日落.jpg" 3488120
file "图片/旅行/山顶合影.png" 5120331
file "图片/截图/报告截图.png" 402211
file "音乐/周末歌单/晴天.mp3" 6412338
file "视频/年会/年会视频.mp4" 734003200
file "下载/年终报告素材.zip" 56123004
file "下载/安装包/setup.exe" 18220101
mkdir -p "$tree/文档/调研报告" "$tree/项目/报告归档"
columns=${QV_SHOT_COLUMNS:-190,280,120,150,150,150,150}
[[ $columns =~ ^[0-9]+(,[0-9]+){6}$ ]] || { echo "screenshot: QV_SHOT_COLUMNS takes 7 widths, comma-separated" >&2; exit 1; }
printf '[config]\nroots=%s\n[window]\ncolumns=%s\n' "$tree" "$columns" > "$app/qvConfig.ini"

tmp_png="$work/shot.png"
XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$app/qvSearchApp" --screenshot "$tmp_png" --query "$query"
mkdir -p "$(dirname "$out")"
cp "$tmp_png" "$out"
echo "screenshot: $out"
