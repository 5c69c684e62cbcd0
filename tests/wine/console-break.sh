#!/usr/bin/env bash
# Shows which console control events Wine delivers to a process on the same
# console, with a program that has none of VarnWin32's code in it:
#
#   tests/wine/wine-session.sh tests/wine/console-break.sh build-win/tests/wine/varn-console-ctrl-event.exe
#
# The program runs in a console of its own (wineconsole, on the session's X
# server) and sends Ctrl+C and Ctrl+Break to a child on that console. Wine 8
# (Debian 12) delivers Ctrl+C ("ctrl_c generate=1 error=0 delivered=1") but
# refuses Ctrl+Break ("ctrl_break generate=0 error=6 delivered=0",
# ERROR_INVALID_HANDLE), so under Wine VarnWin32Service.exe's console run is
# stopped with Ctrl+C only (SIGINT, which Wine turns into CTRL_C_EVENT);
# Ctrl+Break takes the same handler on Windows.
set -u
program=${1:?varn-console-ctrl-event.exe}
result=$(mktemp)
trap 'rm -f "$result"' EXIT
WINEDEBUG=-all wine wineconsole "$(printf 'Z:%s' "${program//\//\\}")" "$(printf 'Z:%s' "${result//\//\\}")" \
  >/dev/null 2>&1
cat "$result"
