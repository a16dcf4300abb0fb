#!/usr/bin/env bash
# Builds the Debian packages of this build folder with CPack and checks what an
# administrator relies on: what each package holds, that the daemon's package needs
# no widget library, its maintainer scripts, that the extracted daemon runs, and (where
# lintian is installed) that lintian finds no error and no warning.
# usage: check_packages.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" > /dev/null; then
    echo "SKIPPED: $tool is not installed (apt-get install dpkg-dev cmake)"
    exit 77
  fi
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" > "$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; fail "cpack"; }
daemon=$out/qadj-appserver_${version}_amd64.deb
platform=$out/qadj-platform_${version}_amd64.deb
plugin=$out/qadj-vsd_${version}_amd64.deb
for deb in "$daemon" "$platform" "$plugin"; do [ -f "$deb" ] || fail "no $(basename "$deb")"; done

holds() {  # package, path: the package lists the file
  dpkg-deb -c "$1" | awk '{print $6}' | grep -qx "./$2" || fail "$(basename "$1") lacks /$2"
}
holds "$daemon" usr/bin/qadj-appserver
holds "$daemon" lib/systemd/system/qadj-appserver.service
holds "$daemon" usr/lib/sysusers.d/qadj-appserver.conf
holds "$daemon" etc/qadj_vsd/appserver.env
holds "$daemon" usr/share/man/man8/qadj-appserver.8.gz
holds "$platform" usr/lib/x86_64-linux-gnu/qadj_vsd/libqadj_platform.so
holds "$plugin" usr/lib/x86_64-linux-gnu/qadj_vsd/libqadj_vsd.so
holds "$plugin" usr/lib/x86_64-linux-gnu/qadj_vsd/libqadj_platform_widgets.so
holds "$plugin" usr/bin/mis-host
holds "$plugin" usr/share/man/man1/mis-host.1.gz
holds "$plugin" usr/share/qadj_vsd/mis_system.ini
echo "contents: as expected"

depends=$(dpkg-deb -f "$daemon" Depends)
echo "qadj-appserver Depends: $depends"
grep -qi 'qt6\|libgl\|libegl\|libxcb' <<< "$depends" &&
  fail "the daemon's package needs a widget library"
grep -q "qadj-platform (= $version)" <<< "$depends" ||
  fail "the daemon's package does not need qadj-platform"
grep -q 'libpq5' <<< "$depends" || fail "Depends were not computed (no libpq5)"
grep -q 'fonts-wqy' <<< "$(dpkg-deb -f "$plugin" Depends)" ||
  fail "the plug-in's package needs no fonts"

control=$out/control
dpkg-deb -e "$daemon" "$control"
grep -qx /etc/qadj_vsd/appserver.env "$control/conffiles" ||
  fail "the environment file is no conffile"
grep -q 'systemd-sysusers' "$control/postinst" || fail "postinst creates no user"
grep -q 'daemon-reload' "$control/postinst" || fail "postinst does not reload systemd"
# A first install starts nothing; an upgrade restarts an enabled service; a purge
# removes the links of an enabled one.
grep -Eq '(systemctl|deb-systemd-helper|deb-systemd-invoke)[^#]*\<(enable|start)\>' \
  "$control/postinst" && fail "postinst enables or starts the service"
grep -A2 'if \[ -n "\$2" \]' "$control/postinst" | grep -q 'deb-systemd-invoke restart' ||
  fail "postinst does not restart the service on upgrade"
grep -q 'stop qadj-appserver' "$control/prerm" || fail "prerm does not stop the service"
grep -q '"upgrade"' "$control/prerm" && fail "prerm stops the service on upgrade"
grep -q 'deb-systemd-helper purge' "$control/postrm" || fail "postrm leaves the links on purge"
echo "maintainer scripts: as expected"

root=$out/root
dpkg-deb -x "$platform" "$root"
dpkg-deb -x "$daemon" "$root"
said=$("$root/usr/bin/qadj-appserver" --version) || fail "the extracted daemon does not run"
echo "$said"
grep -q "^qadj-appserver $version\$" <<< "$said" || fail "--version says no version $version"
found=$(ldd "$root/usr/bin/qadj-appserver" | awk '$1 == "libqadj_platform.so" {print $3}')
[ "$(readlink -f "$found")" = "$(readlink -f "$root/usr/lib/x86_64-linux-gnu/qadj_vsd/libqadj_platform.so")" ] ||
  fail "the extracted daemon takes its platform library from ${found:-nowhere}, not the package"

if command -v lintian > /dev/null; then
  lintian --tag-display-limit 0 "$daemon" "$platform" "$plugin" > "$out/lintian.log" 2>&1 || true
  grep -v 'root privileges' "$out/lintian.log" || true
  grep -q '^[EW]:' "$out/lintian.log" && fail "lintian reports errors or warnings"
  echo "lintian: no error, no warning"
else
  echo "lintian is not installed: not run"
fi
unit=$root/lib/systemd/system/qadj-appserver.service
if command -v systemd-analyze > /dev/null; then
  # Verified as installed, but for the daemon's path: the extracted one.
  sed "s|/usr/bin/qadj-appserver|$root/usr/bin/qadj-appserver|" "$unit" > "$out/qadj-appserver.service"
  systemd-analyze verify "$out/qadj-appserver.service" > "$out/verify.log" 2>&1 ||
    { cat "$out/verify.log"; fail "systemd-analyze verify"; }
  [ -s "$out/verify.log" ] && { cat "$out/verify.log"; fail "systemd-analyze verify warns"; }
  exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e + 0 <= 2.0) }' ||
    fail "the unit's exposure is '$exposure', above 2.0"
  echo "unit: verified, exposure $exposure"
else
  echo "systemd-analyze is not installed: the unit not verified"
fi
echo "packages: all checks passed"
