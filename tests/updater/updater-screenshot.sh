#!/usr/bin/env bash
# Takes a picture of the updater window in the middle of an automatic run,
# under Xvfb, into docs/updater-window.png (or the file given). The program
# runs from a copy in a temporary folder against a slow local server.
#   tests/updater/updater-screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-docs/updater-window.png}
build=${QV_BUILD_DIR:-build}
ninja -C "$build" update qvScreenGrab >/dev/null

work=$(mktemp -d -t qvupshot.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/app" "$work/www"
cp "$build/bin/update" "$work/app/"
printf 'old' > "$work/app/qvSearchApp"
printf 'old' > "$work/app/qvBaseModule.so"

cat > "$work/serve.py" <<'PY'
# Serves a folder, files ending in .bin slowly (1 KiB every 4 ms).
import http.server, os, sys, time
root = sys.argv[1]
class Slow(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = os.path.join(root, self.path.lstrip('/'))
        if not os.path.isfile(path):
            self.send_error(404); return
        data = open(path, 'rb').read()
        self.send_response(200)
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        step = 1024 if path.endswith('.bin') else len(data) or 1
        for i in range(0, len(data), step):
            self.wfile.write(data[i:i + step])
            if path.endswith('.bin'): time.sleep(0.004)
    def log_message(self, *args): pass
httpd = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Slow)
print(httpd.server_address[1], flush=True)
httpd.serve_forever()
PY
python3 "$work/serve.py" "$work/www" > "$work/port" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$work/port")"

head -c 700000 /dev/urandom > "$work/www/qvSearchApp.bin"
head -c 900000 /dev/urandom > "$work/www/qvBaseModule.so.bin"
entry() {  # entry NAME
  local f="$work/www/$1.bin"
  printf '<File><FileName>%s</FileName><FileVersion>1.1.0.2</FileVersion><Length>%s</Length><FileHash>%s</FileHash><InstallDir>CURRENTDIR</InstallDir><URL>%s</URL></File>' \
    "$1" "$(stat -c %s "$f")" "$(md5sum "$f" | cut -c1-32)" "$base/$1.bin"
}
{ printf '<?xml version="1.0" encoding="GB2312" ?>\r\n<xmlRoot keyname="KeyValue"><Product productname="Product-Name">'
  entry qvSearchApp; entry qvBaseModule.so
  printf '</Product></xmlRoot>\r\n'; } | iconv -f UTF-8 -t GB2312 > "$work/www/manifest.xml"
printf '备用服务器|%s/manifest.xml\r\n主服务器|%s/manifest.xml\r\n' "$base" "$base" | iconv -f UTF-8 -t GBK > "$work/www/list.txt"

Xvfb :97 -screen 0 640x480x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
sleep 1
DISPLAY=:97 "$work/app/update" "$base/list.txt" auto > "$work/log" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do grep -q '正在更新文件：qvBaseModule.so' "$work/log" && break; sleep 0.1; done
sleep 1.2
DISPLAY=:97 "$build/tests/qvScreenGrab" "$work/shot.png"
cp "$work/shot.png" "$out"
echo "screenshot: $out"
