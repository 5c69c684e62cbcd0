#!/usr/bin/env bash
# Runs one command in a Wine session of its own, inside a private network
# namespace (tests/netns/run-in-netns.sh private), with an X server (Xvfb) and
# the wineserver both started in that namespace. Winsock's sockets live in the
# wineserver, so a wineserver from outside would put the program on the real
# network: any server already running for the prefix is stopped first, and the
# session's own server is checked to be in the namespace.
#
#   wine-session.sh COMMAND [ARGS...]     e.g. wine-session.sh wine tests.exe
#
# WINEPREFIX: the prefix to use, made here when it is not there yet
# (tests/wine/run-windows-tests.sh starts every run with a fresh one); unset:
# a prefix of this session's own, removed afterwards.
# The command sees DISPLAY, WINEPREFIX, WINEDEBUG (default -all) and
# WINEDLLOVERRIDES (no Mono or Gecko installers). Exits with the command's
# status, 77 where no namespace can be made.
set -u
here=$(cd "$(dirname "$0")" && pwd)

case "${VARN_WINE_SESSION:-}" in
"")
  export VARN_WINE_SESSION=netns
  exec "$here/../netns/run-in-netns.sh" private "$here/wine-session.sh" "$@"
  ;;
netns)
  # A mount namespace too, for a resolver configuration of the session's own.
  export VARN_WINE_SESSION=inside
  exec unshare -m -- "$here/wine-session.sh" "$@"
  ;;
esac

for tool in wine wineserver Xvfb; do
  command -v "$tool" >/dev/null 2>&1 || { echo "wine-session: $tool not found" >&2; exit 1; }
done

# Wine lists the machine's own addresses (gethostbyname of the host name) by
# their routes, the interface of the default route first; without a default
# route its stand-in loopback address (127.12.34.56) would come first. The
# gateway does not exist, and the namespace has no link out, so nothing
# leaves it.
ip route replace default via 10.1.2.1 dev varn-a || { echo "wine-session: no default route" >&2; exit 1; }

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
# 64-bit Wine only; the 32-bit loader is not needed.
export WINELOADER=${WINELOADER:-/usr/lib/wine/wine64}

work=$(mktemp -d /tmp/varn-wine.XXXXXX)
xvfb_pid=""
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    wineserver -k >/dev/null 2>&1
    wait "$server_pid" 2>/dev/null
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Names that are not in /etc/hosts go to a resolver on loopback, where
# nothing answers: lookups fail at once and stay in the namespace. (Without
# a resolv.conf the C library asks loopback anyway.)
if [ -e /etc/resolv.conf ]; then
  echo "nameserver 127.0.0.1" >"$work/resolv.conf"
  mount --bind "$work/resolv.conf" /etc/resolv.conf ||
    { echo "wine-session: cannot replace resolv.conf" >&2; exit 1; }
fi

if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
fi

# X server on the first free display.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 200); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
[ -s "$work/display" ] || { echo "wine-session: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")

# One session at a time per prefix: a second one would stop our server.
# Nothing started below inherits the lock (9>&-): a Wine process that
# outlived its session would otherwise hold it and stall the next one.
exec 9>"${WINEPREFIX%/}.session-lock"
flock 9

# Our own wineserver, in this namespace.
if [ -d "$WINEPREFIX" ]; then
  wineserver -k >/dev/null 2>&1 9>&-
  wineserver -w 9>&-
fi
mkdir -p "$WINEPREFIX"
wineserver -f -p 9>&- &
server_pid=$!
# The server works in its socket's directory; once the socket is there and
# our server still runs, the session is ours.
for _ in $(seq 1 200); do
  [ -S "/proc/$server_pid/cwd/socket" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.05
done
if ! [ -S "/proc/$server_pid/cwd/socket" ] ||
   [ "$(readlink "/proc/$server_pid/ns/net")" != "$(readlink /proc/self/ns/net)" ]; then
  echo "wine-session: could not start a wineserver of our own in the test namespace" >&2
  exit 1
fi

# A new prefix is made by the first boot of the session's server. (Not
# "wineboot -i": on a new prefix that starts the system processes a second
# time, and two service managers then answer sc and msiexec in turn, each
# with its own list of services.)
if ! [ -f "$WINEPREFIX/system.reg" ]; then
  wineboot -u >"$work/wineboot.log" 2>&1 9>&- || { cat "$work/wineboot.log" >&2; exit 1; }
fi

"$@" 9>&-
exit $?
