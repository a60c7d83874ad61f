#!/usr/bin/env bash
# The program as installed: `cmake --install` into a staging root, every file
# at the place a Linux desktop looks for it and accepted by the desktop's own
# validators, manual pages that describe every subcommand and option the
# installed tpk offers, and the installed programs at work from there: tpk and
# qalv-services on a package of a test PKI that only the installed trust
# folder names, and the installed reader on a virtual display, which copies
# its web PDF files from the installation and keeps the CA chain that the
# installed trust folder certifies.
# Run under xvfb-run by CTest: installed_layout.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
dir=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$dir"' EXIT
fail() { echo "installed layout: $*" >&2; exit 1; }

DESTDIR=$dir/root cmake --install "$build" --prefix /usr >/dev/null
usr=$dir/root/usr

expected=(bin/quv-reader bin/tpk bin/qalv-services
  share/qalv/webPdf.htm share/qalv/index.bundle.js share/qalv/trust/README
  share/applications/qalv-quv-reader.desktop share/mime/packages/qalv-tpk.xml
  share/metainfo/tw.qalv.quvreader.metainfo.xml share/icons/hicolor/scalable/apps/qalv-quv-reader.svg
  share/man/man1/tpk.1.gz share/man/man1/quv-reader.1.gz share/man/man1/qalv-services.1.gz
  share/doc/quv-reader/copyright share/doc/quv-reader/changelog.gz)
for size in 16 22 24 32 48 64 128 256; do
  png=share/icons/hicolor/${size}x${size}/apps/qalv-quv-reader.png
  expected+=("$png")
  [[ $(file -b "$usr/$png" 2>/dev/null) == "PNG image data, $size x $size,"* ]] || fail "$png is not a $size px PNG"
done
for file in "${expected[@]}"; do [[ -f $usr/$file ]] || fail "missing $file"; done
for folder in anchors authority; do
  [[ -d $usr/share/qalv/trust/$folder && -z $(ls -A "$usr/share/qalv/trust/$folder") ]] ||
    fail "share/qalv/trust/$folder is not an empty folder"
done
for program in quv-reader tpk qalv-services; do [[ -x $usr/bin/$program ]] || fail "$program is not executable"; done

# The desktop's own readers take the entry, the metadata and the MIME type.
desktop-file-validate "$usr/share/applications/qalv-quv-reader.desktop"
appstreamcli validate --no-net --pedantic "$usr/share/metainfo/tw.qalv.quvreader.metainfo.xml"
cp -r "$usr/share/mime" "$dir/mime"
XDG_DATA_DIRS=$dir update-mime-database "$dir/mime"
grep -qx 'application/x-qalv-tpk' "$dir/mime/types" || fail "the MIME database did not take application/x-qalv-tpk"

# man finds the pages under the prefix, and each page names what its program takes.
export MANWIDTH=200
[[ $(MANPATH=$usr/share/man man -w tpk) == "$usr/share/man/man1/tpk.1.gz" ]] || fail "man does not find tpk(1)"
page() { man -l "$usr/share/man/man1/$1.1.gz" 2>/dev/null | col -b; }
tpk_page=$(page tpk)
subcommands=$("$usr/bin/tpk" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }')
[[ -n $subcommands ]] || fail "tpk --help lists no subcommands"
for word in $("$usr/bin/tpk" --help | grep -oE -- '--[a-z0-9-]+'); do
  grep -qF -- "$word" <<<"$tpk_page" || fail "tpk(1) does not describe $word"
done
for subcommand in $subcommands; do
  grep -qF "tpk $subcommand" <<<"$tpk_page" || fail "tpk(1) does not describe tpk $subcommand"
  for word in $("$usr/bin/tpk" "$subcommand" --help | grep -oE -- '--[a-z0-9-]+'); do
    grep -qF -- "$word" <<<"$tpk_page" || fail "tpk(1) does not describe $word of tpk $subcommand"
  done
done
for word in QALV_TRUST_DIR TZ http_proxy https_proxy no_proxy CURL_CA_BUNDLE QALV_TRACE "EXIT STATUS"; do
  grep -qF "$word" <<<"$tpk_page" || fail "tpk(1) does not describe $word"
done
services_page=$(page qalv-services)
for word in $("$usr/bin/qalv-services" --help | grep -oE -- '--[a-z0-9-]+'); do
  grep -qF -- "$word" <<<"$services_page" || fail "qalv-services(1) does not describe $word"
done
reader_page=$(page quv-reader)
for word in --register --unregister QALV_TRUST_DIR /usr/share/qalv "EXIT STATUS"; do
  grep -qF -- "$word" <<<"$reader_page" || fail "quv-reader(1) does not describe $word"
done

# A test PKI that nothing trusts until its root and its authority certificate
# are put into the installed trust folder.
unset QALV_TRUST_DIR
export HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config
mkdir -p "$HOME"
tpk=$usr/bin/tpk
"$tpk" ca --keys "$source/tests/data/keys-pki" --out "$dir/pki" --services "$dir/services" >/dev/null
"$usr/bin/qalv-services" --data "$dir/services" --listen 127.0.0.1:0 >"$dir/url" 2>"$dir/services.log" &
for _ in $(seq 100); do [[ -s $dir/url ]] && break; sleep 0.1; done
url=$(head -n 1 "$dir/url")
[[ $url == http://* ]] || fail "the installed qalv-services did not start"
printf '%%PDF-1.4\n%% a policy\n%%%%EOF\n' >"$dir/policy.pdf"
"$tpk" pack --out "$dir/policy.tpk" --document "$dir/policy.pdf" --password pw --pki "$dir/pki" \
  --services "$dir/services" --cert-chain-url "$url/acquvSrv/caChain" >/dev/null

verify() { "$tpk" verify "$dir/policy.tpk" --password pw --work-dir "$dir/$1" --online >"$dir/$1.json"; }
status=0
verify untrusted || status=$?
[[ $status == 1 ]] || fail "with an empty installed trust folder tpk verify gave status $status"
cp "$dir/pki/trust/anchors/"* "$usr/share/qalv/trust/anchors/"
cp "$dir/pki/trust/authority/"* "$usr/share/qalv/trust/authority/"
verify trusted || fail "tpk verify refused the package: $(cat "$dir/trusted.json")"
python3 - "$dir/trusted.json" <<'PY'
import json, sys
verdict = json.load(open(sys.argv[1]))
assert verdict["statusCode"] == 0 and verdict["decryptState"] == 0, verdict
assert verdict["online"]["result"] == 0, verdict["online"]
assert all(s["path"][-1]["anchor"] for s in verdict["signers"].values()), verdict["signers"]
PY

# The installed reader: the password typed into its prompt, then the chain it
# fetched is kept only because it leads to the installed anchor.
QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu "$usr/bin/quv-reader" "$dir/policy.tpk" >"$dir/reader.log" 2>&1 &
reader=$!
prompt=$(timeout 60 xdotool search --sync --name "請輸入文件保護密碼" | head -n 1) ||
  fail "the installed reader never asked for the password: $(cat "$dir/reader.log")"
xdotool windowfocus --sync "$prompt"
xdotool type --delay 20 pw
xdotool key Return
work=$HOME/qalvquv
for _ in $(seq 300); do
  ls "$work" 2>/dev/null | grep -qE '^[0-9A-F]{16,}$' && break
  sleep 0.1
done
ls "$work" | grep -qE '^[0-9A-F]{16,}$' || fail "the installed reader kept no CA chain: $(ls "$work")"
for name in webPdf.htm index.bundle.js; do
  cmp -s "$work/$name" "$usr/share/qalv/$name" || fail "the work folder's $name is not the installed one"
done
window=$(xdotool search --name "QALV 電子保單瀏覽器 版本" | head -n 1)
python3 "$source/tests/gui/desktop/close_window.py" "$window" >/dev/null
timeout 20 tail --pid="$reader" -f /dev/null || fail "the installed reader did not close"
wait "$reader" || fail "the installed reader ended with status $?: $(cat "$dir/reader.log")"
echo "installed layout: ${#expected[@]} files in place, manual pages complete, tpk, qalv-services and quv-reader at work"
