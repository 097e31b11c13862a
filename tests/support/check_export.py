#!/usr/bin/python3
"""Reads an export the way other programs do and compares it with what it
should hold.

    check_export.py EXPECTED.jsonl CSV JSONL URLS

EXPECTED holds one object per row: type, name, csv_name (optional: the name
as a CSV cell must read when it differs), raw (optional), size, unread,
address, url, path_hex (the URL's path bytes, hex), user (the URL's user
name; no URL may carry a password) and modified (optional: the listed time
in ISO 8601, as the CSV's "modified" and the JSON's "mtime" give it). Prints what differs and exits 1, or
exits 0.
"""

import csv
from datetime import datetime, timezone
import json
import sys
import urllib.parse

# RFC 3986: unreserved, sub-delims, ":", "@", "/", "%" (as the start of an escape).
URL_CHARS = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,;=:@/%")

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def main():
    expected_path, csv_path, json_path, urls_path = sys.argv[1:5]
    with open(expected_path, encoding="utf-8") as f:
        expected = [json.loads(line) for line in f]

    with open(csv_path, "rb") as f:
        check(f.read(3) == b"\xef\xbb\xbf", "CSV: no UTF-8 byte order mark")
    with open(csv_path, encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(f))
    check(rows[:1] == [["name", "size", "address", "url", "unread", "modified"]],
          "CSV header: %r" % rows[:1])
    want = [[e.get("csv_name", e["name"]), str(e["size"]), e["address"], e["url"],
             "1" if e["unread"] else "0", e.get("modified", "")] for e in expected]
    check(rows[1:] == want, "CSV rows:\n%r\nwanted\n%r" % (rows[1:], want))
    # The times read as times: UTC where the zone is known, a date alone
    # for day precision.
    for row in rows[1:]:
        if row[5]:
            when = datetime.fromisoformat(row[5].replace("Z", "+00:00"))
            check((when.tzinfo == timezone.utc) == row[5].endswith("Z"), "CSV time: %r" % row[5])

    with open(json_path, encoding="utf-8") as f:
        objects = [json.loads(line) for line in f]
    keys = ["type", "name", "raw", "size", "unread", "address", "url", "mtime"]
    got = [{k: o.get(k) for k in keys} for o in objects]
    want = [{k: e.get("modified" if k == "mtime" else k) for k in keys} for e in expected]
    check(got == want, "JSON lines:\n%r\nwanted\n%r" % (got, want))

    with open(urls_path, "rb") as f:
        lines = f.read().decode("ascii").split("\n")
    check(lines[-1] == "", "URL list does not end with a line feed")
    urls = lines[:-1]
    check(len(urls) == len(expected), "URL count %d, wanted %d" % (len(urls), len(expected)))
    for url, e in zip(urls, expected):
        check(set(url) <= URL_CHARS, "URL has characters a URL cannot hold: %r" % url)
        parts = urllib.parse.urlsplit(url)
        check(parts.scheme in ("ftp", "ftps"), "URL scheme: %r" % url)
        check(urllib.parse.unquote_to_bytes(parts.path).hex() == e["path_hex"], "URL path: %r" % url)
        check(parts.password is None, "URL carries a password: %r" % url)
        check(parts.username == e["user"], "URL user: %r" % url)
        check(url == e["url"], "URL %r, wanted %r" % (url, e["url"]))

    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


main()
