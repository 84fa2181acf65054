#!/usr/bin/python3
"""Peer of the POP3 benchmark: the same work with Python's poplib.

poplib_peer.py retr|top HOST PORT USER PASSWORD [CAFILE]
  retr: RETR of every message (poplib undoes the dot-stuffing), nothing deleted
  top:  TOP n 1 and LIST n for every message
With CAFILE the connection is POP3 over TLS (POP3_SSL), verified against that authority.
Prints the number of message bytes (retr) or messages (top) handled.
"""
import poplib
import ssl
import sys


def main():
    mode, host, port, user, password = sys.argv[1:6]
    cafile = sys.argv[6] if len(sys.argv) > 6 else ""
    if cafile:
        context = ssl.create_default_context(cafile=cafile)
        pop = poplib.POP3_SSL(host, int(port), context=context)
    else:
        pop = poplib.POP3(host, int(port))
    pop.user(user)
    pop.pass_(password)
    count, _ = pop.stat()
    handled = 0
    for n in range(1, count + 1):
        if mode == "retr":
            _, lines, _ = pop.retr(n)
            handled += sum(len(line) + 2 for line in lines)
        else:
            pop.top(n, 1)
            pop.list(n)
            handled += 1
    pop.quit()
    print(handled)


if __name__ == "__main__":
    main()
