#!/usr/bin/env python3
"""The peer of `zelk-mail-cli fetch`: the same IMAP commands with imaplib.

Connects with implicit TLS, LOGIN, SELECT "INBOX", UID SEARCH ALL, then one
UID FETCH of the 50 highest UIDs (newest first) with
(UID FLAGS INTERNALDATE BODY.PEEK[]), and LOGOUT. Prints the number of
bodies fetched and the seconds spent inside Python on stdout as JSON.
Usage: imaplib_fetch.py HOST PORT USER PASSWORD
"""
import imaplib
import json
import ssl
import sys
import time


def main():
    host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    start = time.perf_counter()
    conn = imaplib.IMAP4_SSL(host, port, ssl_context=ssl.create_default_context())
    conn.login(user, password)
    conn.select('"INBOX"')
    typ, data = conn.uid("SEARCH", None, "ALL")
    uids = sorted(int(u) for u in data[0].split())
    newest = list(reversed(uids[-50:]))
    bodies = 0
    if newest:
        typ, data = conn.uid("FETCH", ",".join(str(u) for u in newest), "(UID FLAGS INTERNALDATE BODY.PEEK[])")
        bodies = sum(1 for part in data if isinstance(part, tuple))
    conn.logout()
    print(json.dumps({"bodies": bodies, "seconds": time.perf_counter() - start}))


if __name__ == "__main__":
    main()
