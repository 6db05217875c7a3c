"""Checks what a mail program fetched through the gateway against the
stand-in's own mailbox, read with Python's email package (not with the
gateway's message model, which is what is being checked).

    compare_fetched.py ACCOUNTS_DIR ACCOUNT FOLDERS FETCHED...

FOLDERS is a comma list ("inbox,junk"); FETCHED are files or folders of
fetched messages, or mbox files (taken apart at their "From " lines). For
every message of those folders there must be one fetched message with the
same subject, sender and recipients, whose text holds the site message's
text (spacing aside) and which carries every attachment byte for byte.
Prints one line per problem and exits 1 when there is any.
"""
import email
import email.header
import email.utils
import email.policy
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "testing", "standin"))
import mailstore  # noqa: E402


def words(text):
    return " ".join(text.split())


def bare(text):
    """The words alone: the page turns markup into spacing of its own."""
    return " ".join(re.findall(r"\w+", text))


def html_text(html):
    html = re.sub(r"(?is)<(script|style|head)\b.*?</\1>", " ", html)
    html = re.sub(r"(?s)<[^>]*>", " ", html)
    for entity, char in (("&nbsp;", " "), ("&lt;", "<"), ("&gt;", ">"), ("&quot;", '"'),
                         ("&#39;", "'"), ("&amp;", "&")):
        html = html.replace(entity, char)
    return html


def parse(raw):
    return email.message_from_bytes(raw, policy=email.policy.compat32)


def header(message, name):
    value = message.get(name, "")
    if isinstance(value, email.header.Header):
        # A header rebuilt from a page may carry its characters as 8-bit
        # bytes rather than as encoded words; the parser keeps those apart.
        raw = b"".join(p if isinstance(p, bytes) else p.encode("latin-1", "replace")
                       for p, _ in email.header.decode_header(value))
        try:
            return words(raw.decode("utf-8"))
        except UnicodeDecodeError:
            return words(raw.decode("latin-1"))
    try:
        parts = email.header.decode_header(value)
        return words("".join(p.decode(c or "latin-1", "replace") if isinstance(p, bytes) else p
                             for p, c in parts))
    except Exception:
        return words(str(value))


def addresses(message, name):
    return sorted(a.lower() for _, a in email.utils.getaddresses(message.get_all(name, [])) if a)


def text_of(message):
    """The plain text of a message: its text/plain parts, or its HTML as text."""
    plain, html = [], []
    for part in message.walk():
        if part.get_content_maintype() == "multipart" or part.get_filename():
            continue
        payload = part.get_payload(decode=True) or b""
        charset = part.get_content_charset() or "latin-1"
        try:
            text = payload.decode(charset, "replace")
        except LookupError:
            text = payload.decode("latin-1")
        if part.get_content_type() == "text/plain":
            plain.append(text)
        elif part.get_content_type() == "text/html":
            html.append(html_text(text))
    return words(" ".join(plain)), words(" ".join(html))


def shown_text(message):
    """What the site shows of a message: its HTML when it has one."""
    plain, html = text_of(message)
    return html if html else plain


def attachments(message):
    """{file name: decoded bytes}; text attachments with their line ends
    made alike, as MIME lets a text travel with either."""
    found = {}
    for part in message.walk():
        name = part.get_filename()
        if name and part.get_content_maintype() != "multipart":
            data = part.get_payload(decode=True) or b""
            if part.get_content_maintype() == "text":
                data = data.replace(b"\r\n", b"\n").rstrip(b"\n")
            found[name] = data
    return found


def fetched_messages(paths):
    for path in paths:
        if os.path.isdir(path):
            for entry in sorted(os.listdir(path)):
                yield from fetched_messages([os.path.join(path, entry)])
            continue
        with open(path, "rb") as f:
            data = f.read()
        if data.startswith(b"From "):
            for chunk in re.split(rb"(?m)^From [^\n]*\n", data):
                if chunk.strip():
                    # mbox quoting of body lines that began with "From "
                    yield re.sub(rb"(?m)^>(>*From )", rb"\1", chunk)
        else:
            yield data


def main(argv):
    accounts_dir, account_name, folders = argv[1], argv[2], argv[3].split(",")
    store = mailstore.MailStore(accounts_dir)
    account = store.account(account_name)
    if account is None:
        print("no account %s" % account_name)
        return 1
    fetched = [parse(raw) for raw in fetched_messages(argv[4:])]
    problems = []
    expected = 0
    for folder in folders:
        for original in account.folders[folder].messages:
            expected += 1
            site = parse(original.raw)
            subject = header(site, "Subject")
            matches = [m for m in fetched if header(m, "Subject") == subject]
            if len(matches) != 1:
                problems.append("%s/%s: %d fetched messages with subject %r" %
                                (folder, original.id, len(matches), subject))
                continue
            got = matches[0]
            for name in ("From", "To", "Cc"):
                if addresses(site, name) != addresses(got, name):
                    problems.append("%s/%s: %s %r, fetched %r" % (folder, original.id, name,
                                                                   addresses(site, name),
                                                                   addresses(got, name)))
            if not got.get("Date"):
                problems.append("%s/%s: no Date" % (folder, original.id))
            want, have = shown_text(site), " ".join(text_of(got))
            if bare(want) not in bare(have):
                problems.append("%s/%s: text %r not in fetched text %r" %
                                (folder, original.id, want[:200], have[:400]))
            have_files = attachments(got)
            for name, data in attachments(site).items():
                if name not in have_files:
                    problems.append("%s/%s: attachment %s missing (fetched: %s)" %
                                    (folder, original.id, name, sorted(have_files)))
                elif have_files[name] != data:
                    problems.append("%s/%s: attachment %s differs (%d bytes, fetched %d)" %
                                    (folder, original.id, name, len(data),
                                     len(have_files[name])))
    if len(fetched) != expected:
        problems.append("%d messages fetched, %d on the site" % (len(fetched), expected))
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
