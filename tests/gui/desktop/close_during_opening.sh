#!/usr/bin/env bash
# The real reader on a virtual display, closed by its close box while an
# opening waits on a chain service that never answers in time: the process
# ends within a second of the close and nothing in its work folder changes
# afterwards. Run under xvfb-run by CTest: close_during_opening.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$dir"' EXIT
mkdir -p "$dir/home"

tpk=$build/tools/tpk/tpk
"$tpk" ca --keys "$here/../../data/keys-pki" --out "$dir/pki" --services "$dir/services" >/dev/null
export QALV_TRUST_DIR=$dir/pki/trust

# A chain service that takes the request and holds it.
python3 - "$dir" <<'PY' &
import http.server, sys, time
folder = sys.argv[1]
class Held(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        open(folder + "/asked", "w").close()
        time.sleep(60)
server = http.server.HTTPServer(("127.0.0.1", 0), Held)
open(folder + "/port.tmp", "w").write(str(server.server_port))
__import__("os").rename(folder + "/port.tmp", folder + "/port")
server.serve_forever()
PY
for _ in $(seq 100); do [[ -f $dir/port ]] && break; sleep 0.1; done
printf '%%PDF-1.4\n%% a policy\n%%%%EOF\n' >"$dir/policy.pdf"
"$tpk" pack --out "$dir/policy.tpk" --document "$dir/policy.pdf" --password pw --pki "$dir/pki" \
  --services "$dir/services" --cert-chain-url "http://127.0.0.1:$(cat "$dir/port")/acquvSrv/caChain" >/dev/null

HOME=$dir/home QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu "$build/reader/quv-reader" "$dir/policy.tpk" \
  >"$dir/reader.log" 2>&1 &
reader=$!
prompt=$(timeout 60 xdotool search --sync --name "請輸入文件保護密碼" | head -n 1)
xdotool windowfocus --sync "$prompt"
xdotool type --delay 20 pw
xdotool key Return
for _ in $(seq 300); do [[ -f $dir/asked ]] && break; sleep 0.1; done
[[ -f $dir/asked ]] || { echo "the chain service was never asked" >&2; exit 1; }
window=$(xdotool search --name "QALV 電子保單瀏覽器 版本" | head -n 1)
before=$(cd "$dir/home/qalvquv" && ls -l --time-style=full-iso)

start=$(python3 "$here/close_window.py" "$window")
status=0
wait "$reader" || status=$?
ms=$((($(date +%s%N) - start) / 1000000))
echo "the reader ended with status $status ${ms} ms after the close"
[[ $status == 0 ]] || { cat "$dir/reader.log" >&2; exit 1; }
((ms < 1000)) || { echo "too slow" >&2; exit 1; }
sleep 2
after=$(cd "$dir/home/qalvquv" && ls -l --time-style=full-iso)
[[ $before == "$after" ]] || { echo "the work folder changed after the close:" >&2; diff <(echo "$before") <(echo "$after") >&2; exit 1; }
echo "the work folder is as it was"
