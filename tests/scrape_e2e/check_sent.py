"""Checks a message that a mail program sent through the gateway as the
stand-in's web site received it (its record of accepted sends).

    check_sent.py BASE_URL ACCOUNT SUBJECT RCPT[,RCPT...] TEXT [NAME=FILE...]

There must be exactly one send through the site from ACCOUNT with that
subject, to exactly those envelope recipients, whose text holds TEXT and
which carries each named attachment with the bytes of FILE. Prints one line
per problem and exits 1 when there is any.
"""
import email
import email.policy
import json
import sys
import urllib.request

from compare_fetched import attachments, bare, header, text_of


def main(argv):
    base, account, subject, rcpts, text = argv[1:6]
    wanted_files = dict(arg.split("=", 1) for arg in argv[6:])
    with urllib.request.urlopen(base + "/_control", timeout=30) as answer:
        state = json.load(answer)
    sends = []
    for record in state.get("sent", []):
        message = email.message_from_bytes(record["data"].encode("latin-1"),
                                           policy=email.policy.compat32)
        if record.get("via") == "site" and header(message, "Subject") == subject:
            sends.append((record, message))
    if len(sends) != 1:
        print("%d sends through the site with subject %r (all: %r)" %
              (len(sends), subject, [(r.get("via"), r.get("rcpt_to")) for r in state["sent"]]))
        return 1
    record, message = sends[0]
    problems = []
    if record["account"].lower() != account.lower():
        problems.append("sent from %r" % record["account"])
    got = sorted(r.lower() for r in record["rcpt_to"])
    want = sorted(r.lower() for r in rcpts.split(","))
    if got != want:
        problems.append("recipients %r, wanted %r" % (got, want))
    plain, html = text_of(message)
    if bare(text) not in bare(plain + " " + html):
        problems.append("text %r not in %r" % (text, (plain + " " + html)[:400]))
    have = attachments(message)
    for name, path in wanted_files.items():
        with open(path, "rb") as f:
            data = f.read()
        if name not in have:
            problems.append("attachment %s missing (have %s)" % (name, sorted(have)))
        elif have[name] != data:
            problems.append("attachment %s: %d bytes, wanted %d" % (name, len(have[name]),
                                                                    len(data)))
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
