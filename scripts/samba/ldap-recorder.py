#!/usr/bin/python3
"""A plain LDAP server that records every byte it receives: it answers a
search with a naming context, refuses StartTLS and accepts any bind (the
worst case: a server that would take a password in clear).

Usage: ldap-recorder.py ADDRESS PORT RECORD_FILE
It serves until killed; RECORD_FILE gets the bytes of every connection.
"""
import socket
import sys
import threading

address, port, record = sys.argv[1], int(sys.argv[2]), sys.argv[3]


def length(n):
    if n < 0x80:
        return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(b)]) + b


def tlv(tag, body):
    return bytes([tag]) + length(len(body)) + body


def result(tag, code):
    return tlv(tag, tlv(0x0A, bytes([code])) + tlv(0x04, b"") + tlv(0x04, b""))


def header(buf, i):
    """Tag, start of the value and its length of the element at i, or None."""
    if i + 2 > len(buf):
        return None
    tag, n, i = buf[i], buf[i + 1], i + 2
    if n & 0x80:
        k = n & 0x7F
        if i + k > len(buf):
            return None
        n, i = int.from_bytes(buf[i:i + k], "big"), i + k
    return tag, i, n


def answer(message):
    _, body, _ = header(message, 0)
    _, mid_at, mid_len = header(message, body)
    mid = message[body:mid_at + mid_len]  # the message ID element as sent
    op = message[mid_at + mid_len]
    reply = lambda payload: tlv(0x30, mid + payload)
    if op == 0x60:  # bind
        return reply(result(0x61, 0))
    if op == 0x63:  # search: the rootDSE of a domain
        attr = tlv(0x30, tlv(0x04, b"defaultNamingContext") +
                   tlv(0x31, tlv(0x04, b"DC=nokdc,DC=test")))
        entry = tlv(0x64, tlv(0x04, b"") + tlv(0x30, attr))
        return reply(entry) + reply(result(0x65, 0))
    if op == 0x77:  # extended (StartTLS): protocol error
        return reply(result(0x78, 2))
    return b""


def serve(conn):
    buf = b""
    with conn:
        conn.settimeout(30)
        try:
            while True:
                data = conn.recv(65536)
                if not data:
                    break
                with lock, open(record, "ab") as rec:
                    rec.write(data)
                buf += data
                while (h := header(buf, 0)) and h[1] + h[2] <= len(buf):
                    end = h[1] + h[2]
                    out = answer(buf[:end])
                    buf = buf[end:]
                    if out:
                        conn.sendall(out)
        except (OSError, IndexError):
            pass


lock = threading.Lock()
srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind((address, port))
srv.listen(8)
while True:
    conn, _ = srv.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
