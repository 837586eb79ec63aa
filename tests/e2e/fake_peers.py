#!/usr/bin/env python3
"""Stand-ins on loopback for the peers a password-server client meets.

  fake_peers.py proxy PORTFILE LOG MODE
      An HTTP proxy: writes its port to PORTFILE, appends every request
      header it receives to LOG, then, by MODE: "ok" answers 200 and
      relays to the host and port of the CONNECT line; "refuse" answers
      403; "chatty" answers 200 with 200 header lines; "longline" answers
      200 with a header line of 100,000 bytes.
  fake_peers.py server PORTFILE REPLY
      A password server that reads the five request lines and answers
      REPLY (with \\n for newlines), then closes.
"""
import socket
import sys
import threading


def listen(portfile):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(8)
    with open(portfile + ".tmp", "w") as f:
        f.write(str(s.getsockname()[1]))
    import os
    os.rename(portfile + ".tmp", portfile)
    return s


def read_header(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            break
        data += piece
    return data


def pump(src, dst):
    try:
        while True:
            piece = src.recv(65536)
            if not piece:
                break
            dst.sendall(piece)
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def proxy(conn, log, mode):
    header = read_header(conn)
    with open(log, "ab") as f:
        f.write(header)
    if mode == "refuse":
        conn.sendall(b"HTTP/1.0 403 Forbidden\r\n\r\n")
        conn.close()
        return
    if mode == "longline":
        conn.sendall(b"HTTP/1.0 200 OK\r\nX-Long: " + b"a" * 100000 + b"\r\n\r\n")
        conn.close()
        return
    target = header.split(b"\r\n")[0].split(b" ")[1].decode()
    host, port = target.rsplit(":", 1)
    up = socket.create_connection((host, int(port)))
    reply = b"HTTP/1.0 200 Connection established\r\n"
    if mode == "chatty":
        reply += b"".join(b"X-Line: %d\r\n" % i for i in range(200))
    conn.sendall(reply + b"Proxy-agent: test\r\n\r\n")
    threading.Thread(target=pump, args=(up, conn), daemon=True).start()
    pump(conn, up)


def server(conn, reply):
    f = conn.makefile("rb")
    for _ in range(5):
        f.readline()
    conn.sendall(reply.replace("\\n", "\n").encode())
    conn.close()


def main():
    kind, portfile = sys.argv[1], sys.argv[2]
    s = listen(portfile)
    while True:
        conn, _ = s.accept()
        if kind == "proxy":
            args = (conn, sys.argv[3], sys.argv[4])
            threading.Thread(target=proxy, args=args, daemon=True).start()
        else:
            server(conn, sys.argv[3])


if __name__ == "__main__":
    main()
