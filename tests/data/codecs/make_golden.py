#!/usr/bin/env python3
"""Regenerates the golden codec cases from Python's e-mail test corpus.

For every base64 and quoted-printable body in the corpus it writes the body
as it stands in the message (<codec>/<case>.in) and the bytes Python's own
email package decodes from it (<codec>/<case>.expected). Run it once by hand;
the tests read the files and need no Python.

    python3 make_golden.py [/usr/lib/python3.11/test/test_email/data]
"""
import email
import os
import sys

CORPUS = sys.argv[1] if len(sys.argv) > 1 else "/usr/lib/python3.11/test/test_email/data"
HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    written = 0
    for name in sorted(os.listdir(CORPUS)):
        if not (name.startswith("msg_") and name.endswith(".txt")):
            continue
        with open(os.path.join(CORPUS, name), "rb") as f:
            msg = email.message_from_binary_file(f)
        for index, part in enumerate(msg.walk()):
            if part.is_multipart():
                continue
            cte = (part.get("Content-Transfer-Encoding") or "").strip().lower()
            if cte not in ("base64", "quoted-printable"):
                continue
            raw = part.get_payload()
            if not isinstance(raw, str):
                continue
            encoded = raw.encode("ascii", "surrogateescape")
            decoded = part.get_payload(decode=True)
            folder = os.path.join(HERE, cte)
            os.makedirs(folder, exist_ok=True)
            case = "%s-part%d" % (name[:-4], index)
            with open(os.path.join(folder, case + ".in"), "wb") as f:
                f.write(encoded)
            with open(os.path.join(folder, case + ".expected"), "wb") as f:
                f.write(decoded)
            written += 1
    print("wrote %d cases" % written)


if __name__ == "__main__":
    main()
