#!/usr/bin/env bash
# Installs varnwin32 (the dialog), varnwin32-service and varnwin32-tools with
# apt into a minimal Debian 12 root made from the archive (mmdebstrap), boots
# that root with systemd as PID 1 (systemd-nspawn -b, no network but its own
# loopback) and checks, as plant IT would see it: the unit gets READY, the
# service answers a status request, the view socket is 0660 root:varnwin32,
# varn-probe view --once is refused to a user outside the group and shows
# the service's state to one inside, a service stopped with SIGSTOP is
# killed by the watchdog and restarted, a wrong option in
# /etc/default/varnwin32 stops it with status 2 and its reason (no restart),
# its lines reach the journal with their priorities, the package installed
# over itself (the scripts of an upgrade) restarts the service while the view
# socket stays up, and apt-get purge leaves
# nothing of the three behind (no unit, socket unit, unit state, sysusers
# file or view socket; the group stays, as Debian keeps the system groups a
# package made). Then a station of 1.0.0.5 with the dialog alone (the dialog package
# with that version's relations: conflicting with the service, not depending
# on it) is upgraded to this version with apt and ends with the service
# running and the view socket in place; so does a station of 1.0.0.4 (the
# single package, its service running) whose service the upgrade stops and
# replaces. Also prints what apt installs for the
# packages in the fresh root (packages and MB).
#
#   tests/package/container-test.sh [PACKAGE_DIR]    (default build-pkg; as root)
#
# It skips (status 0, with the reason) only where this machine cannot boot a
# container: not root, no mmdebstrap or systemd-nspawn, no cgroup file
# system, or systemd-nspawn unable to start the container's PID 1.
# VARN_CONTAINER_DIR: where the root is made (default PACKAGE_DIR/container),
# removed afterwards.
set -u
cd "$(dirname "$0")/../.."
dir=${1:-build-pkg}
version=$(sed -n 's/^project(VarnWin32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
package=$dir/varnwin32-service_${version}_${arch}.deb
packages=("$package" "$dir/varnwin32_${version}_${arch}.deb" "$dir/varnwin32-tools_${version}_${arch}.deb")
began=$(date +%s)

skip() {
  echo "SKIPPED: $* (the container check needs a machine that can boot one)"
  exit 0
}
fail() {
  echo "FAIL: $*"
  exit 1
}
step() { echo "-- $(($(date +%s) - began)) s: $*"; }

for deb in "${packages[@]}"; do [ -f "$deb" ] || fail "no $deb (run tools/package/build-deb.sh)"; done
[ "$(id -u)" -eq 0 ] || skip "not root"
command -v mmdebstrap >/dev/null 2>&1 || skip "no mmdebstrap (tools/setup/install-deps.sh installs it)"
command -v systemd-nspawn >/dev/null 2>&1 || skip "no systemd-nspawn (package systemd-container)"
[ -d /sys/fs/cgroup ] && [ -n "$(ls -A /sys/fs/cgroup 2>/dev/null)" ] || skip "no cgroup file system at /sys/fs/cgroup"

work=${VARN_CONTAINER_DIR:-$dir/container}
mkdir -p "$work"
work=$(cd "$work" && pwd)
root=$work/root
nspawn_pid=
cleanup() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill -TERM "$nspawn_pid" 2>/dev/null
    for _ in $(seq 1 100); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$nspawn_pid" 2>/dev/null
    wait "$nspawn_pid" 2>/dev/null
  fi
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
rm -rf --one-file-system "$root"

# The dialog package as 1.0.0.5 had it: conflicting with the service, not
# depending on it (its files and scripts are this version's; dpkg and apt
# read only its relations and its preinst).
rm -rf "$work/old"
dpkg-deb -R "${packages[1]}" "$work/old"
sed -i -e 's/^Version: .*/Version: 1.0.0.5/' -e 's/, varnwin32-service ([^)]*)//' \
  -e '/^Depends:/a Conflicts: varnwin32-service' "$work/old/DEBIAN/control"
old=varnwin32_1.0.0.5_${arch}.deb
dpkg-deb --root-owner-group -b "$work/old" "$work/$old" >/dev/null || fail "no 1.0.0.5 dialog package"
# The single package of 1.0.0.4 as an upgrade meets it: the programs the three
# packages now hold and the unit varnwin32.service, enabled and started by
# its postinst (its service here a stand-in that sleeps).
rm -rf "$work/single"
install -d "$work/single/DEBIAN" "$work/single/lib/systemd/system" "$work/single/usr/bin"
printf 'Package: varnwin32\nVersion: 1.0.0.4\nArchitecture: %s\nMaintainer: VarnWin32 <ci@localhost>\nDescription: the single package\n' \
  "$arch" >"$work/single/DEBIAN/control"
printf '#!/bin/sh\ndeb-systemd-helper enable varnwin32.service\n[ ! -d /run/systemd/system ] || deb-systemd-invoke start varnwin32.service\n' \
  >"$work/single/DEBIAN/postinst"
printf '[Service]\nExecStart=/bin/sleep infinity\n[Install]\nWantedBy=multi-user.target\n' >"$work/single/lib/systemd/system/varnwin32.service"
for program in varnwin32 varnwin32-service varn-beacon varn-probe; do printf '#!/bin/sh\n' >"$work/single/usr/bin/$program"; done
chmod 0755 "$work/single/DEBIAN/postinst" "$work/single/usr/bin/"*
single=varnwin32_1.0.0.4_${arch}.deb
dpkg-deb --root-owner-group -b "$work/single" "$work/$single" >/dev/null || fail "no 1.0.0.4 package"

# The root: Debian 12's minimal base with systemd as init, and the packages
# installed by apt as an administrator does, from the files.
names=$(for deb in "${packages[@]}"; do printf ' /tmp/%s' "$(basename "$deb")"; done)
step "mmdebstrap: a minimal Debian 12 root with systemd, then apt-get install$names"
cp "${packages[@]}" "$work/"
copy_in=()
for deb in "${packages[@]}"; do copy_in+=("--customize-hook=copy-in $work/$(basename "$deb") /tmp"); done
if ! mmdebstrap --variant=minbase --include=systemd-sysv,dbus --dpkgopt=force-unsafe-io \
  "${copy_in[@]}" \
  --customize-hook="chroot \"\$1\" apt-get install -y$names >$work/install.log 2>&1" \
  --customize-hook="chroot \"\$1\" dpkg -L varnwin32-service varnwin32 varnwin32-tools >$work/files" \
  bookworm "$root" >"$work/mmdebstrap.log" 2>&1; then
  tail -n 20 "$work/mmdebstrap.log" "$work/install.log" 2>/dev/null
  fail "mmdebstrap or the install failed"
fi
sed -n 's/.* \([0-9]* newly installed\).*/   apt: \1/p; s/^After this operation, \(.*\) of additional disk space.*/   apt: \1 more disk space/p' \
  "$work/install.log"
for name in varnwin32-service varnwin32 varnwin32-tools; do
  grep -q "^Setting up $name " "$work/install.log" || fail "apt did not set up $name"
done
[ -L "$root/etc/systemd/system/multi-user.target.wants/varnwin32.service" ] || fail "the unit is not enabled in the image"
[ -L "$root/etc/systemd/system/sockets.target.wants/varnwin32-view.socket" ] || fail "the view socket is not enabled in the image"
grep -q '^varnwin32:' "$root/etc/group" || fail "no group varnwin32 in the image"

# Boot it. Where the host runs no systemd the container registers nowhere and
# stays in the caller's cgroup.
step "systemd-nspawn -b --private-network"
nspawn=(systemd-nspawn -q -D "$root" -M varnwin32-ci -b --private-network --console=read-only)
[ -d /run/systemd/system ] || nspawn+=(--register=no --keep-unit)
"${nspawn[@]}" >"$work/console.log" 2>&1 </dev/null &
nspawn_pid=$!
# The container's PID 1 is the child of systemd-nspawn that runs systemd.
init=
for _ in $(seq 1 300); do
  kill -0 "$nspawn_pid" 2>/dev/null || break
  for child in $(pgrep -P "$nspawn_pid"); do
    [ "$(readlink "/proc/$child/exe" 2>/dev/null)" = /usr/lib/systemd/systemd ] && init=$child
  done
  [ -n "$init" ] && break
  sleep 0.1
done
if [ -z "$init" ]; then
  tail -n 20 "$work/console.log"
  skip "systemd-nspawn could not start the container's systemd: $(grep -v '^$' "$work/console.log" | tail -n 1)"
fi
inside() { nsenter -t "$init" -a "$@"; }
# systemctl answers once the container's system manager is up.
for _ in $(seq 1 600); do
  state=$(inside systemctl is-system-running 2>/dev/null)
  case "$state" in running | degraded) break ;; esac
  kill -0 "$nspawn_pid" 2>/dev/null || { tail -n 20 "$work/console.log"; fail "the container ended while booting"; }
  sleep 0.1
done
case "$state" in running | degraded) ;; *) tail -n 30 "$work/console.log"; fail "the container did not finish booting: $state" ;; esac
step "booted ($state)"

# active: waits until the unit is active with a main process other than $1.
active() {
  for _ in $(seq 1 ${2:-300}); do
    if [ "$(inside systemctl is-active varnwin32.service)" = active ]; then
      main=$(inside systemctl show -p MainPID --value varnwin32.service)
      [ "$main" != 0 ] && [ "$main" != "${1:-0}" ] && return 0
    fi
    sleep 0.1
  done
  return 1
}
status_reply() {
  inside bash -c 'exec 3<>/dev/udp/127.0.0.1/45654 && printf "STATUS_REQUEST " >&3 &&
    timeout 2 head -c 8 <&3' 2>/dev/null
}

step "READY: the unit is active, its service answers"
active || fail "varnwin32.service is not active: $(inside systemctl status varnwin32.service --no-pager 2>&1 | tail -n 5)"
first=$main
[ "$(status_reply)" = "<status>" ] || fail "no status reply from the service in the container"
inside journalctl -u varnwin32.service -b --no-pager -o cat >"$work/journal" 2>&1
grep -q "^VarnWin32 $version starting with" "$work/journal" || fail "no start-up line with the version in the journal"
inside journalctl -u varnwin32.service -b --no-pager -o cat -p debug..debug >"$work/debug" 2>&1
grep -q 'UdpKivServer::handle_receive' "$work/debug" && fail "debug lines in the journal at the default level"

step "the view socket is 0660 root:varnwin32; outside the group refused, inside a snapshot"
socket_mode() { inside stat -c '%a %U:%G' /run/varnwin32/view 2>&1; }
[ "$(socket_mode)" = "660 root:varnwin32" ] || fail "the view socket is $(socket_mode)"
inside useradd -m outsider && inside useradd -m -G varnwin32 watcher || fail "useradd"
as() {  # USER COMMAND...: the command as that user with that user's groups
  local user=$1
  shift
  inside setpriv --reuid="$user" --regid="$user" --init-groups "$@"
}
as outsider varn-probe view --once >"$work/outsider" 2>&1
outsider_status=$?
[ "$outsider_status" = 1 ] || fail "varn-probe view --once outside the group: status $outsider_status, not 1: $(cat "$work/outsider")"
grep -qF 'add you to the group varnwin32 (adduser outsider varnwin32)' "$work/outsider" ||
  fail "no advice for the user outside the group: $(cat "$work/outsider")"
as watcher varn-probe view --once >"$work/snapshot" 2>&1 || fail "varn-probe view --once in the group: $(cat "$work/snapshot")"
grep -qF "$(inside hostname)" "$work/snapshot" || fail "the snapshot does not name the host: $(cat "$work/snapshot")"

step "SIGSTOP: the watchdog kills the stalled service and it is restarted"
inside bash -c "kill -STOP $first"
active "$first" 300 || fail "not restarted 30 s after SIGSTOP: $(inside systemctl status varnwin32.service --no-pager 2>&1 | tail -n 5)"
[ "$(status_reply)" = "<status>" ] || fail "no status reply after the restart"

step "a wrong option in /etc/default/varnwin32: stopped with status 2 and its reason, not restarted"
cp "$root/etc/default/varnwin32" "$work/default.saved"
echo 'VARNWIN32_OPTS="--log-level loud"' >>"$root/etc/default/varnwin32"
inside systemctl restart varnwin32.service >/dev/null 2>&1 && fail "the restart with a wrong option succeeded"
sleep 3 # two restart delays: a restart would have come by now
[ "$(inside systemctl show -p ActiveState --value varnwin32.service)" = failed ] ||
  fail "not failed after a wrong option: $(inside systemctl show -p ActiveState,SubState varnwin32.service)"
[ "$(inside systemctl show -p ExecMainStatus --value varnwin32.service)" = 2 ] || fail "the exit status is not 2"
inside systemctl status varnwin32.service --no-pager -n 5 >"$work/status" 2>&1
grep -qF "VarnWin32: --log-level: 'loud' is not debug, info, warning or error" "$work/status" ||
  fail "systemctl status does not give the reason: $(cat "$work/status")"
inside journalctl -u varnwin32.service -b --no-pager -o cat -p err >"$work/errors" 2>&1
grep -qF "'loud' is not debug" "$work/errors" || fail "the reason is not an error in the journal"
cp "$work/default.saved" "$root/etc/default/varnwin32"
inside systemctl restart varnwin32.service || fail "no start after the settings were mended"
active || fail "not active after the settings were mended"

step "reinstall (an upgrade's scripts): the service restarted, the view socket active and never refused"
before=$(inside systemctl show -p MainPID --value varnwin32.service)
cp "$package" "$root/var/tmp/"
inside dpkg -i "/var/tmp/$(basename "$package")" >"$work/reinstall.log" 2>&1 || { cat "$work/reinstall.log"; fail "dpkg -i over itself"; }
active "$before" || fail "the service is not restarted by the reinstall"
[ "$(inside systemctl is-active varnwin32-view.socket)" = active ] || fail "the view socket is not active after the reinstall"
inside journalctl -b --no-pager -o cat -u varnwin32-view.socket >"$work/socket.journal" 2>&1
! grep -qi 'fail\|refusing' "$work/socket.journal" || fail "the view socket failed during the reinstall: $(grep -i 'fail\|refusing' "$work/socket.journal")"

step "apt-get purge leaves nothing"
inside apt-get purge -y varnwin32 varnwin32-service varnwin32-tools >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "apt-get purge failed"; }
left=$(while read -r path; do [ -f "$root$path" ] && echo "$path"; done <"$work/files")
[ -z "$left" ] || fail "left after purge: $left"
[ ! -e "$root/etc/default/varnwin32" ] || fail "/etc/default/varnwin32 is left after purge"
find "$root/etc/systemd" "$root/var/lib/systemd/deb-systemd-helper-enabled" -name '*varnwin32*' >"$work/links" 2>/dev/null
[ ! -s "$work/links" ] || fail "left after purge: $(cat "$work/links")"
inside systemctl daemon-reload
[ -z "$(inside systemctl list-unit-files 'varnwin32*' --no-legend 2>/dev/null)" ] || fail "systemd still lists a unit"
inside test -e /run/varnwin32 && fail "/run/varnwin32 is left after purge"
container_ns=$(readlink "/proc/$init/ns/pid")
for proc in /proc/[0-9]*; do
  [ "$(readlink "$proc/ns/pid" 2>/dev/null)" = "$container_ns" ] && [ "$(cat "$proc/comm" 2>/dev/null)" = varnwin32-servi ] &&
    fail "a varnwin32-service process runs after purge"
done

step "upgrade: the dialog of 1.0.0.5 alone, then apt-get install the dialog of $version"
# The booted root has a /tmp of its own.
cp "$work/$old" "$work/$(basename "${packages[1]}")" "$work/$(basename "$package")" "$root/var/tmp/"
inside dpkg -i "/var/tmp/$old" >"$work/old.log" 2>&1 || { cat "$work/old.log"; fail "dpkg -i $old"; }
inside apt-get install -y "/var/tmp/$(basename "${packages[1]}")" "/var/tmp/$(basename "$package")" >"$work/upgrade.log" 2>&1 ||
  { tail -n 20 "$work/upgrade.log"; fail "apt-get install over 1.0.0.5 failed"; }
[ "$(inside dpkg-query -W -f '${Version} ${db:Status-Abbrev}' varnwin32)" = "$version ii " ] || fail "the dialog is not $version"
active || fail "the service is not active after the upgrade"
[ "$(status_reply)" = "<status>" ] || fail "no status reply after the upgrade"
[ "$(socket_mode)" = "660 root:varnwin32" ] || fail "after the upgrade the view socket is $(socket_mode)"
[ "$(inside systemctl is-enabled varnwin32.service varnwin32-view.socket | tr '\n' ' ')" = "enabled enabled " ] ||
  fail "the units are not both enabled after the upgrade"

step "upgrade: the single package of 1.0.0.4 with its service running, then apt-get install the three of $version"
inside apt-get purge -y varnwin32 varnwin32-service >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "apt-get purge before 1.0.0.4"; }
cp "$work/$single" "$work/$(basename "${packages[2]}")" "$root/var/tmp/"
inside dpkg -i "/var/tmp/$single" >"$work/single.log" 2>&1 || { cat "$work/single.log"; fail "dpkg -i $single"; }
active || fail "the service of 1.0.0.4 is not running"
stand_in=$main
inside apt-get install -y "/var/tmp/$(basename "${packages[1]}")" "/var/tmp/$(basename "$package")" "/var/tmp/$(basename "${packages[2]}")" \
  >"$work/upgrade.log" 2>&1 || { tail -n 20 "$work/upgrade.log"; fail "apt-get install over 1.0.0.4 failed"; }
# The old service is stopped, not left running under the new unit's name.
active "$stand_in" || fail "the service of 1.0.0.4 still runs after the upgrade"
[ "$(status_reply)" = "<status>" ] || fail "no status reply after the upgrade from 1.0.0.4"
[ "$(inside systemctl is-enabled varnwin32.service varnwin32-view.socket | tr '\n' ' ')" = "enabled enabled " ] ||
  fail "the units are not both enabled after the upgrade from 1.0.0.4"

step "done: installed, booted, READY, answered, viewed, restarted after SIGSTOP, stopped by a wrong option, reinstalled, purged, upgraded from 1.0.0.5 and 1.0.0.4"
exit 0
