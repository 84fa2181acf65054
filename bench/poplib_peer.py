#!/usr/bin/python3
"""Peer of the POP3 benchmark: the same work with Python's poplib.

poplib_peer.py retr|top HOST PORT USER PASSWORD
  retr: RETR of every message (poplib undoes the dot-stuffing), nothing deleted
  top:  TOP n 1 and LIST n for every message
Prints the number of message bytes (retr) or messages (top) handled.
"""
import poplib
import sys


def main():
    mode, host, port, user, password = sys.argv[1:6]
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
