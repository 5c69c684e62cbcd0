#!/usr/bin/env bash
# Packs VarnWin32.exe and VarnWin32Service.exe into a Windows Installer
# package with wixl (Debian's msitools) from varnwin32.wxs, then sets with
# msibuild what wixl cannot express:
# - the Run value's component is installed only with AUTOSTART=1 or
#   MODE=both, and taken along whenever the dialog is removed (an uninstall,
#   a switch to the service): a component whose condition is false would be
#   left behind;
# - a fresh installation puts in the features of MODE only (the Condition
#   rows);
# - the Event Log source's message file is an expandable string;
# - the key of the kept settings goes with the install folder, the last
#   component of every mode, and the Event Log source's with its component,
#   subkeys and all (Registry rows named "-");
# - AUTOSTART, MODE and the service's options reach the elevated part of an
#   installation started by a user (secure properties);
# - the firewall's rollback actions run as rollback (wixl makes any
#   Execute="rollback" an immediate action).
# It checks what it set, and that no component writes more than one
# registry value.
#
#   make-msi.sh VERSION VarnWin32.exe VarnWin32Service.exe VarnWin32Setup.dll ICON.ico OUTPUT.msi
set -euo pipefail
version=${1:?version}
exe=${2:?VarnWin32.exe}
service_exe=${3:?VarnWin32Service.exe}
setup_dll=${4:?VarnWin32Setup.dll}
icon=${5:?icon}
output=${6:?output.msi}
here=$(cd "$(dirname "$0")" && pwd)

IFS=. read -r major minor patch _ <<<"$version"
next="$major.$minor.$((patch + 1))"

# wixl takes the sources by names relative to where it runs.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/VarnWin32.exe"
cp "$service_exe" "$stage/VarnWin32Service.exe"
cp "$setup_dll" "$stage/VarnWin32Setup.dll"
cp "$icon" "$stage/varnwin32.ico"
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")

(cd "$stage" && wixl --arch x64 -D Version="$version" -D NextVersion="$next" \
  -D ExePath=VarnWin32.exe -D ServiceExePath=VarnWin32Service.exe -D SetupDllPath=VarnWin32Setup.dll \
  -D IconPath=varnwin32.ico -o package.msi "$here/varnwin32.wxs" 2>&1 |
  grep -v 'builder.vala:.*unimplemented' || true)
msi=$stage/package.msi
[ -s "$msi" ] || { echo "make-msi: wixl made no package" >&2; exit 1; }
sql() { msibuild "$msi" -q "$1"; }

sql "UPDATE \`Component\` SET \`Condition\` = 'AUTOSTART=\"1\" OR MODE=\"both\" OR REMOVE~=\"ALL\" OR REMOVE><\"Dialog\"' WHERE \`Component\` = 'Autostart'"
sql "UPDATE \`Property\` SET \`Value\` = 'OLDERVERSIONFOUND;NEWERVERSIONFOUND;AUTOSTART;MODE;ALLOW_CONFIG_FROM;ALLOW_STATUS_FROM;STATUS_RATE;SPREAD' WHERE \`Property\` = 'SecureCustomProperties'"
sql "CREATE TABLE \`Condition\` (\`Feature_\` CHAR(38) NOT NULL, \`Level\` SHORT NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`Feature_\`, \`Level\`)"
sql "INSERT INTO \`Condition\` (\`Feature_\`, \`Level\`, \`Condition\`) VALUES ('Dialog', 0, 'NOT Installed AND MODE=\"service\"')"
sql "INSERT INTO \`Condition\` (\`Feature_\`, \`Level\`, \`Condition\`) VALUES ('Service', 0, 'NOT Installed AND MODE=\"dialog\"')"
# The Event Log reads the message file's path as an expandable string.
sql "UPDATE \`Registry\` SET \`Value\` = '#%[#VarnWin32Service.exe]' WHERE \`Name\` = 'EventMessageFile'"
# An exe named by a property (50), its return ignored (64), rollback (256),
# in the script (1024), not impersonated (2048).
for action in FirewallRollback45654 FirewallRollback34543; do
  sql "UPDATE \`CustomAction\` SET \`Type\` = 3442 WHERE \`Action\` = '$action'"
done
# HKLM is root 2.
sql "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('SettingsKey', 2, 'Software\\VarnWin32', '-', 'InstallFolder')"
sql "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('EventSourceKey', 2, 'SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VarnWin32', '-', 'EventSource')"

table() { msiinfo export "$msi" "$1" | tr -d '\r'; }
table Property | grep -q '^SecureCustomProperties.*;AUTOSTART;MODE;ALLOW_CONFIG_FROM;ALLOW_STATUS_FROM;STATUS_RATE;SPREAD$' ||
  { echo "make-msi: the secure properties are not set" >&2; exit 1; }
table Component | grep -q 'AUTOSTART="1" OR MODE="both"' || { echo "make-msi: the Run value's condition is not set" >&2; exit 1; }
[ "$(table Condition | grep -c 'NOT Installed AND MODE')" = 2 ] ||
  { echo "make-msi: the features' conditions are not set" >&2; exit 1; }
[ "$(table Registry | grep -cP '\t-\t')" = 2 ] || { echo "make-msi: the keys' removal is not set" >&2; exit 1; }
# One component for each value written (a key's removal, "-", aside).
shared=$(table Registry | awk -F'\t' 'NR > 3 && $4 != "-" {print $6}' | sort | uniq -d)
[ -z "$shared" ] || { echo "make-msi: components with more than one registry value: $shared" >&2; exit 1; }
[ "$(table CustomAction | grep -cP '^FirewallRollback\d+\t3442\t')" = 2 ] ||
  { echo "make-msi: the firewall's rollback actions are not set" >&2; exit 1; }
mv "$msi" "$output"
echo "built $output"
