#!/usr/bin/env bash
# The Debian package made from a build folder: lintian finds no error in it,
# it holds the installed layout and nothing from outside /usr, it depends on
# the libraries its programs link (computed by dpkg-shlibdeps) and on what the
# reader loads at run time, and it carries no maintainer scripts: the
# desktop, MIME and icon caches are refreshed by their packages' triggers.
# debian_package.sh BUILD_DIR
set -euo pipefail
build=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "debian package: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$dir" >"$dir/cpack.log" || { cat "$dir/cpack.log" >&2; fail "cpack failed"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$dir/quv-reader_${version}_amd64.deb
[[ -f $deb && $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "no quv-reader_${version}_amd64.deb: $(ls "$dir")"

lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$dir/lintian.log"
grep -q '^E:' "$dir/lintian.log" && fail "lintian reports errors"

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
outside=$(grep -vE '^\./(usr/)?$|^\./usr/' <<<"$contents" || true)
[[ -z $outside ]] || fail "files outside /usr: $outside"
for path in ./usr/bin/quv-reader ./usr/bin/tpk ./usr/bin/qalv-services ./usr/share/man/man1/tpk.1.gz \
  ./usr/share/applications/qalv-quv-reader.desktop ./usr/share/qalv/trust/anchors/ \
  ./usr/share/doc/quv-reader/copyright; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libqt6webenginecore6 libcurl4 libmbedcrypto7 libjsoncpp25 \
  libqt6webenginecore6-bin libqt6svg6 fonts-noto-cjk qt6-translations-l10n; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
dpkg-deb -e "$deb" "$dir/control"
scripts=$(ls "$dir/control" | grep -vxE 'control|md5sums' || true)
[[ -z $scripts ]] || fail "unexpected maintainer scripts: $scripts"
echo "debian package: $(basename "$deb"), $(wc -l <<<"$contents") entries, lintian without errors"
