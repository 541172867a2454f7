"""A DNS server on loopback that forges answers, for the tests: to each question it answers first
from another port, then with another ID, then with bytes that are no DNS message, then with an
unsigned answer that the name holds FORGED; with relay, it then passes the question on to Knot
and its answer back. Messages other than questions (updates) are only relayed.

Usage: dnsspoofer.py KNOT_PORT FORGED relay|forge
Prints "port N" once listening.
"""
import socket
import struct
import sys

knot_port, forged, mode = int(sys.argv[1]), sys.argv[2], sys.argv[3]


def forged_answer(query, ident):
    end = 12
    while query[end] != 0:
        end += query[end] + 1
    question = query[12:end + 5]
    record = b"\xc0\x0c" + struct.pack("!HHIH", 1, 1, 60, 4) + socket.inet_aton(forged)
    return struct.pack("!HHHHHH", ident, 0x8400, 1, 1, 0, 0) + question + record


server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
server.bind(("127.0.0.1", 0))
elsewhere = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
elsewhere.bind(("127.0.0.1", 0))
print(f"port {server.getsockname()[1]}", flush=True)
while True:
    message, client = server.recvfrom(65535)
    ident, flags = struct.unpack("!HH", message[:4])
    if (flags >> 11) & 0xF == 0:
        elsewhere.sendto(forged_answer(message, ident), client)
        server.sendto(forged_answer(message, ident ^ 0x5555), client)
        server.sendto(b"\x00\x01 no DNS message", client)
        server.sendto(forged_answer(message, ident), client)
    if mode == "relay":
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as upstream:
            upstream.settimeout(5)
            upstream.sendto(message, ("127.0.0.1", knot_port))
            server.sendto(upstream.recv(65535), client)
