#!/usr/bin/python3
"""A POP3 server that delays small writes, for the collect benchmark: relays connections on
loopback to a real server, hands it the client's commands one at a time and sends each whole
answer to the client in one write of its own, with Nagle's algorithm left on (no TCP_NODELAY).
An answer written while the client has not acknowledged the one before waits for that
acknowledgement, as on servers that flush their output once per answer: an answer that follows
another one at once (two commands sent together) waits for the client's delayed ACK.

answer_relay.py LISTEN_PORT TARGET_PORT
Prints "ready" once it listens.
"""
import socket
import sys
import threading


def multi_line(command):
    words = command.split()
    if not words:
        return False
    verb = words[0].upper()
    return verb in ("CAPA", "RETR", "TOP") or (verb in ("LIST", "UIDL") and len(words) == 1)


def serve(client, target_port):
    upstream = socket.create_connection(("127.0.0.1", target_port))
    server_in = upstream.makefile("rb")
    client_in = client.makefile("rb")
    try:
        client.sendall(server_in.readline())
        while True:
            command = client_in.readline()
            if not command:
                break
            upstream.sendall(command)
            answer = server_in.readline()
            if not answer:
                break
            if answer.startswith(b"+OK") and multi_line(command.decode("latin-1")):
                lines = [answer]
                while True:
                    line = server_in.readline()
                    lines.append(line)
                    if not line or line == b".\r\n":
                        break
                answer = b"".join(lines)
            client.sendall(answer)
    except OSError:
        pass
    finally:
        upstream.close()
        client.close()


def main():
    listen_port, target_port = (int(a) for a in sys.argv[1:3])
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", listen_port))
    listener.listen(16)
    print("ready", flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, target_port), daemon=True).start()


if __name__ == "__main__":
    main()
