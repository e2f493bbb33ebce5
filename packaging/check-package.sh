#!/usr/bin/env bash
# Checks a built Debian package: the files it installs, its dependencies, and
# that its desktop entry and AppStream metainfo validate.
#   packaging/check-package.sh build/kestrune_*.deb
set -euo pipefail
deb=${1:?usage: check-package.sh PACKAGE.deb}
id=org.kestrune.Kestrune

expected=(
  ./usr/bin/kestrune
  ./usr/bin/kestrune-debug-window
  ./usr/share/applications/$id.desktop
  ./usr/share/icons/hicolor/scalable/apps/$id.svg
  ./usr/share/metainfo/$id.metainfo.xml
  ./usr/share/man/man1/kestrune.1.gz
)

echo "== dpkg-deb -c $deb"
listing=$(dpkg-deb -c "$deb")
echo "$listing"
files=$(awk '{print $6}' <<<"$listing")
status=0
for f in "${expected[@]}"; do
  if ! grep -qxF "$f" <<<"$files"; then
    echo "missing from the package: $f" >&2
    status=1
  fi
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "== Depends: $depends"
for p in libqt6core6 libqt6gui6 libqt6widgets6 libudev1 qt6-qpa-plugins; do
  if ! grep -qE "(^|, )$p( |,|$)" <<<"$depends"; then
    echo "not declared in Depends: $p" >&2
    status=1
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
echo "== desktop-file-validate"
desktop-file-validate "$tmp/usr/share/applications/$id.desktop" || status=1
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$tmp/usr/share/metainfo/$id.metainfo.xml" || status=1

[ $status -eq 0 ] && echo "package OK"
exit $status
