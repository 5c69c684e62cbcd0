#!/usr/bin/env bash
# Runs one test program inside network namespaces made here and removed
# afterwards, so the protocol's fixed ports and groups never meet a real
# network.
#
#   run-in-netns.sh private PROGRAM [ARGS...]
#       A fresh namespace: loopback up and carrying multicast, the beacon
#       addresses 10.0.0.9-12 on loopback, and one veth link with the local
#       address 10.1.2.5/24.
#   run-in-netns.sh peers PROGRAM [ARGS...]
#       Two namespaces joined by two veth links. The program's side has the
#       local addresses 10.1.2.5/24 and 192.168.7.20/24 (multicast routed over
#       the first link) and the beacon addresses 10.0.0.9-12 on loopback; the
#       peer side, named in VARN_PEER_NETNS, has 10.1.2.1/24 (plus 10.1.2.11-14
#       for remote beacons and 10.1.2.100-119 for many distinct senders) and
#       192.168.7.1/24.
#
# Exits 77 (a skipped test for CTest) where namespaces cannot be made.
set -u

mode=${1:?mode}
shift

skip() {
  echo "SKIPPED: $* (the network tests need root and iproute2 to make private namespaces)"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "not running as root"
command -v ip >/dev/null 2>&1 || skip "ip (iproute2) not found"
command -v unshare >/dev/null 2>&1 || skip "unshare not found"

setup_lo() {
  ip link set lo up &&
  ip link set lo multicast on &&
  for a in 10.0.0.9 10.0.0.10 10.0.0.11 10.0.0.12; do ip addr add "$a/32" dev lo || return 1; done
}

case "$mode" in
private)
  exec unshare -n -- bash -c '
    set -e
    '"$(declare -f setup_lo)"'
    setup_lo
    ip link add varn-a type veth peer name varn-ap
    ip addr add 10.1.2.5/24 dev varn-a
    ip link set varn-a up
    ip link set varn-ap up
    ip route add 224.0.0.0/4 dev lo
    exec "$@"' run-in-netns "$@"
  ;;
peers)
  prog="varn-prog-$$"
  peer="varn-peer-$$"
  cleanup() {
    ip netns del "$prog" 2>/dev/null
    ip netns del "$peer" 2>/dev/null
  }
  trap cleanup EXIT
  ip netns add "$prog" 2>/dev/null || skip "ip netns add failed"
  ip netns add "$peer" || exit 1
  set -e
  ip netns exec "$prog" bash -c "$(declare -f setup_lo); setup_lo"
  ip netns exec "$peer" ip link set lo up
  ip -n "$prog" link add varn-a type veth peer name varn-ap netns "$peer"
  ip -n "$prog" link add varn-b type veth peer name varn-bp netns "$peer"
  ip -n "$prog" addr add 10.1.2.5/24 dev varn-a
  ip -n "$prog" addr add 192.168.7.20/24 dev varn-b
  ip -n "$peer" addr add 10.1.2.1/24 dev varn-ap
  for a in 10.1.2.11 10.1.2.12 10.1.2.13 10.1.2.14; do ip -n "$peer" addr add "$a/24" dev varn-ap; done
  for i in $(seq 100 119); do echo "addr add 10.1.2.$i/24 dev varn-ap"; done | ip -n "$peer" -batch -
  ip -n "$peer" addr add 192.168.7.1/24 dev varn-bp
  for l in varn-a varn-b; do ip -n "$prog" link set "$l" up; done
  for l in varn-ap varn-bp; do ip -n "$peer" link set "$l" up; done
  ip -n "$prog" route add 224.0.0.0/4 dev varn-a
  ip -n "$peer" route add 224.0.0.0/4 dev varn-ap
  # Let the links finish coming up (carrier) before traffic starts.
  for _ in $(seq 1 100); do
    state=$(ip -n "$prog" -o link show varn-a)
    case "$state" in *LOWER_UP*) break ;; esac
    sleep 0.02
  done
  set +e
  VARN_PEER_NETNS="$peer" ip netns exec "$prog" "$@"
  exit $?
  ;;
*)
  echo "unknown mode $mode" >&2
  exit 2
  ;;
esac
