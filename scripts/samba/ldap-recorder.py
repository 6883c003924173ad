#!/usr/bin/python3
"""A plain LDAP server that records every byte it receives: it answers a
search with a naming context, refuses StartTLS and accepts any bind (the
worst case: a server that would take a password in clear).

Given a certificate and its key, it is a hostile directory instead: it
accepts StartTLS with that certificate, and answers every search below the
root with an empty page whose cookie asks for the next one, for ever; each
such page after PAGE_DELAY seconds (default none). With "mute" in place of
PAGE_DELAY it accepts StartTLS and then says nothing more.

With "flood" in place of CERT it answers a read of the root entry with a
thousand entries of half a megabyte each (a base read has one), as a hostile
server would to make a client hold them all.

Usage: ldap-recorder.py ADDRESS PORT RECORD_FILE [CERT KEY [PAGE_DELAY|mute] | flood]
It serves until killed; RECORD_FILE gets the bytes of every message.
"""
import socket
import ssl
import sys
import threading
import time

address, port, record = sys.argv[1], int(sys.argv[2]), sys.argv[3]
tls = None
flood = len(sys.argv) == 5 and sys.argv[4] == "flood"
if len(sys.argv) > 5:
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(sys.argv[4], sys.argv[5])
mute = len(sys.argv) > 6 and sys.argv[6] == "mute"
page_delay = float(sys.argv[6]) if len(sys.argv) > 6 and not mute else 0.0
STARTTLS = b"1.3.6.1.4.1.1466.20037"
PAGED = b"1.2.840.113556.1.4.319"


def length(n):
    if n < 0x80:
        return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(b)]) + b


def tlv(tag, body):
    return bytes([tag]) + length(len(body)) + body


def result(tag, code, more=b""):
    return tlv(tag, tlv(0x0A, bytes([code])) + tlv(0x04, b"") + tlv(0x04, b"") + more)


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
    """The reply to one message, and whether TLS starts after it."""
    _, body, _ = header(message, 0)
    _, mid_at, mid_len = header(message, body)
    mid = message[body:mid_at + mid_len]  # the message ID element as sent
    op = message[mid_at + mid_len]
    reply = lambda payload: tlv(0x30, mid + payload)
    if op == 0x60:  # bind
        return reply(result(0x61, 0)), False
    if op == 0x63:  # search
        _, op_at, _ = header(message, mid_at + mid_len)
        _, _, base_len = header(message, op_at)
        if tls and base_len > 0:  # below the root: an empty page, and another
            time.sleep(page_delay)
            cookie = tlv(0x30, tlv(0x02, b"\x00") + tlv(0x04, b"more"))
            control = tlv(0x30, tlv(0x04, PAGED) + tlv(0x04, cookie))
            return reply(result(0x65, 0) + tlv(0xA0, control)), False
        attr = tlv(0x30, tlv(0x04, b"defaultNamingContext") +
                   tlv(0x31, tlv(0x04, b"DC=nokdc,DC=test")))
        if flood:
            attr += tlv(0x30, tlv(0x04, b"description") + tlv(0x31, tlv(0x04, b"x" * 524288)))
            entry = reply(tlv(0x64, tlv(0x04, b"") + tlv(0x30, attr)))
            return [entry] * 1000 + [reply(result(0x65, 0))], False
        entry = tlv(0x64, tlv(0x04, b"") + tlv(0x30, attr))
        return reply(entry) + reply(result(0x65, 0)), False
    if op == 0x77:  # extended: StartTLS
        if tls and STARTTLS in message:
            return reply(result(0x78, 0, tlv(0x8A, STARTTLS))), True
        return reply(result(0x78, 2)), False  # protocol error
    return b"", False


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
                    out, starts_tls = answer(buf[:end])
                    buf = buf[end:]
                    for chunk in out if isinstance(out, list) else [out]:
                        conn.sendall(chunk)
                    if starts_tls and mute:
                        time.sleep(3600)
                    if starts_tls:
                        conn = tls.wrap_socket(conn, server_side=True)
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
