"""Prints the decoded body of every leaf part of each message named on the
command line, as Python's email package sees it, in a form that a C++ test
reads without a JSON parser:

    FILE <name>
    PART <content-type> <transfer-encoding or -> <defects> <byte count>
    <bytes>

Leaves come in depth-first order, containers (multipart, message/rfc822)
are walked into and not listed themselves.
"""
import email
import email.policy
import sys

out = sys.stdout.buffer
for path in sys.argv[1:]:
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=email.policy.compat32)
    out.write(b"FILE %s\n" % path.encode())
    for part in msg.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        cte = (part.get("Content-Transfer-Encoding") or "-").strip().lower() or "-"
        ctype = part.get_content_type()
        defects = len(part.defects)
        out.write(b"PART %s %s %d %d\n" % (ctype.encode(), cte.replace(" ", "_").encode(), defects, len(payload)))
        out.write(payload)
        out.write(b"\n")
