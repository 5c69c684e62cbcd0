#!/usr/bin/env python3
"""The network side of the Wine smoke test. Runs inside the test's private
network namespace and sends only to the beacon group or a local address.

  peer.py status SOURCE DESTINATION SECONDS
      Sends "STATUS_REQUEST " from SOURCE to DESTINATION:45654, once a second
      until a reply comes (at most SECONDS), and prints the reply.
  peer.py beacon SOURCE NAME LOCATION PING_TARGET HEALTH SECONDS RECEIVED STOP
      Plays a beacon on SOURCE:34543: announces itself to 224.2.2.224:34543
      every 300 ms and appends every datagram it receives to the file
      RECEIVED, one Python bytes literal a line, until the file STOP exists
      or SECONDS have passed.
  peer.py send SOURCE TEXT
      Sends TEXT once from SOURCE:34543 to 224.2.2.224:34543.
  peer.py server ADDRESS PORT SECONDS RECEIVED STOP
      Plays a watchdog server on ADDRESS:PORT: appends "SOURCE:PORT" and the
      datagram as a bytes literal to RECEIVED, a line each, until STOP exists
      or SECONDS have passed.
  peer.py flood SOURCE COUNT SECONDS MIN_BYTES MAX_BYTES DESTINATION:PORT...
      Sends COUNT datagrams from SOURCE, or as many as SECONDS allow, to the
      destinations in turn (group destinations leave through SOURCE's
      interface), each of MIN_BYTES to MAX_BYTES random bytes, and prints how
      many went out.
Exit status 0, or 1 when no reply came.
"""
import os
import random
import select
import socket
import sys
import time

COMMAND_PORT = 45654
BEACON_PORT = 34543
BEACON_GROUP = "224.2.2.224"
ANNOUNCE_INTERVAL = 0.3


def status(source, destination, seconds):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.bind((source, 0))
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            sock.sendto(b"STATUS_REQUEST ", (destination, COMMAND_PORT))
            ready, _, _ = select.select([sock], [], [], 1.0)
            if ready:
                reply, _ = sock.recvfrom(65536)
                sys.stdout.write(reply.decode("latin-1") + "\n")
                return 0
    sys.stderr.write("peer.py: no reply to STATUS_REQUEST within %s s\n" % seconds)
    return 1


def beacon(source, name, location, ping_target, health, seconds, received, stop):
    announcement = (
        "<beacon><name>%s</name><location>%s</location><pingTarget>%s</pingTarget>"
        "<pingTargetHealth>%s</pingTargetHealth></beacon>" % (name, location, ping_target, health)
    ).encode()
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock, open(received, "a") as log:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((source, BEACON_PORT))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(source))
        deadline = time.monotonic() + seconds
        next_announcement = 0.0
        while time.monotonic() < deadline and not os.path.exists(stop):
            now = time.monotonic()
            if now >= next_announcement:
                sock.sendto(announcement, (BEACON_GROUP, BEACON_PORT))
                next_announcement = now + ANNOUNCE_INTERVAL
            ready, _, _ = select.select([sock], [], [], max(0.0, next_announcement - now))
            if ready:
                data, _ = sock.recvfrom(65536)
                log.write(repr(data) + "\n")
                log.flush()
    return 0


def send(source, text):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((source, BEACON_PORT))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(source))
        sock.sendto(text.encode(), (BEACON_GROUP, BEACON_PORT))
    return 0


def server(address, port, seconds, received, stop):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock, open(received, "a") as log:
        sock.bind((address, port))
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline and not os.path.exists(stop):
            ready, _, _ = select.select([sock], [], [], 0.2)
            if ready:
                data, (host, sender_port) = sock.recvfrom(65536)
                log.write("%s:%d %r\n" % (host, sender_port, data))
                log.flush()
    return 0


def flood(source, count, seconds, min_bytes, max_bytes, destinations):
    targets = []
    for destination in destinations:
        host, port = destination.rsplit(":", 1)
        targets.append((host, int(port)))
    payload = os.urandom(max_bytes)
    sent = 0
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.bind((source, 0))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(source))
        deadline = time.monotonic() + seconds
        while sent < count and time.monotonic() < deadline:
            size = random.randint(min_bytes, max_bytes)
            try:
                sock.sendto(payload[:size], targets[sent % len(targets)])
            except OSError:
                pass  # a full send queue drops this one
            sent += 1
    sys.stdout.write("sent %d datagrams\n" % sent)
    return 0


def main(argv):
    if len(argv) == 5 and argv[1] == "status":
        return status(argv[2], argv[3], float(argv[4]))
    if len(argv) == 10 and argv[1] == "beacon":
        return beacon(argv[2], argv[3], argv[4], argv[5], argv[6], float(argv[7]), argv[8], argv[9])
    if len(argv) == 4 and argv[1] == "send":
        return send(argv[2], argv[3])
    if len(argv) == 7 and argv[1] == "server":
        return server(argv[2], int(argv[3]), float(argv[4]), argv[5], argv[6])
    if len(argv) >= 8 and argv[1] == "flood":
        return flood(argv[2], int(argv[3]), float(argv[4]), int(argv[5]), int(argv[6]), argv[7:])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
