"""The stand-in's mailboxes: accounts seeded from folders of .eml files and
kept in memory, so a test can change them freely without touching the seed."""

import email.utils
import hashlib
import json
import os
import re
import secrets
import threading
import time
from datetime import datetime, timezone

# On-disk folder name -> the special name the service gives the folder.
SPECIAL_FOLDERS = {
    "inbox": ("inbox", "Inbox"),
    "junk": ("bulkmail", "Junk Mail"),
    "deleted": ("deleteditems", "Deleted Items"),
    "sent": ("sentitems", "Sent Items"),
    "drafts": ("drafts", "Drafts"),
    "outbox": ("outbox", "Outbox"),
}

ACCOUNT_FILE = "account.json"
DEFAULT_PAGE_SIZE = 25  # messages per page of the web site's listings
SAFE_ID = re.compile(r"[^A-Za-z0-9._-]")


def to_crlf(raw):
    """Message bytes with every line ended by CR LF, as they go on the wire."""
    lines = re.split(rb"\r\n|\r|\n", raw)
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join(line + b"\r\n" for line in lines)


def parse_headers(raw):
    """{lower-case name: unfolded value} of the first occurrence of each
    header. 8-bit bytes are taken as ISO-8859-1 so that none is lost."""
    block = raw.split(b"\r\n\r\n", 1)[0].decode("latin-1")
    headers = {}
    name = None
    for line in block.split("\r\n"):
        if line[:1] in (" ", "\t") and name is not None:
            if name in headers and headers[name][1]:
                headers[name] = (headers[name][0] + " " + line.strip(), True)
            continue
        key, colon, value = line.partition(":")
        name = key.strip().lower() if colon else None
        if name and name not in headers:
            headers[name] = (value.strip(), True)
        elif name:
            headers[name] = (headers[name][0], False)  # later copies are ignored
    return {k: v for k, (v, _) in headers.items()}


class Message:
    def __init__(self, msg_id, raw, read=False, received=None):
        self.id = msg_id
        self.raw = to_crlf(raw)
        self.read = read
        self.received = received or time.time()
        self.headers = parse_headers(self.raw)

    def header(self, name):
        return self.headers.get(name.lower(), "")

    @property
    def size(self):
        return len(self.raw)

    @property
    def has_attachment(self):
        return self.header("Content-Type").lower().startswith("multipart/mixed")

    def date_text(self):
        """yyyy-mm-ddThh:mm:ss in UTC, from the Date header or the arrival."""
        when = None
        try:
            parsed = email.utils.parsedate_to_datetime(self.header("Date"))
            if parsed is not None:
                if parsed.tzinfo is None:
                    parsed = parsed.replace(tzinfo=timezone.utc)
                when = parsed.astimezone(timezone.utc)
        except (TypeError, ValueError, IndexError):
            when = None
        if when is None:
            when = datetime.fromtimestamp(self.received, timezone.utc)
        return when.strftime("%Y-%m-%dT%H:%M:%S")

    def summary(self):
        return {
            "id": self.id,
            "read": self.read,
            "size": self.size,
            "subject": self.header("Subject"),
            "from": self.header("From"),
        }


class Folder:
    def __init__(self, name):
        self.name = name
        self.special, self.display = SPECIAL_FOLDERS.get(name, ("", name))
        self.messages = []  # in arrival order

    def find(self, msg_id):
        for m in self.messages:
            if m.id == msg_id:
                return m
        return None

    @property
    def unread(self):
        return sum(1 for m in self.messages if not m.read)


class Account:
    def __init__(self, name, password, flags=None, page_size=DEFAULT_PAGE_SIZE):
        self.name = name
        self.password = password
        self.flags = dict(flags or {})
        self.page_size = max(1, int(page_size or DEFAULT_PAGE_SIZE))
        self.folders = {n: Folder(n) for n in SPECIAL_FOLDERS}

    def folder(self, name):
        return self.folders.get(name)

    def find_message(self, msg_id):
        for f in self.folders.values():
            m = f.find(msg_id)
            if m is not None:
                return f, m
        return None, None

    def new_id(self, wanted=""):
        base = SAFE_ID.sub("_", wanted)[:40] or "msg" + secrets.token_hex(4)
        candidate = base
        while self.find_message(candidate)[1] is not None:
            candidate = "%s.%s" % (base, secrets.token_hex(3))
        return candidate

    def add(self, folder_name, raw, read=False, wanted_id=""):
        folder = self.folders.setdefault(folder_name, Folder(folder_name))
        msg = Message(self.new_id(wanted_id), raw, read)
        folder.messages.append(msg)
        return msg

    def move(self, msg, source, target):
        """Moves one message between two folders of this account; a message
        already gone from the source is left alone."""
        if msg in source.messages and source is not target:
            source.messages.remove(msg)
            target.messages.append(msg)

    def remove(self, msg, folder):
        if msg in folder.messages:
            folder.messages.remove(msg)

    def snapshot(self):
        return {
            "flags": self.flags,
            "page_size": self.page_size,
            "folders": {n: [m.summary() for m in f.messages] for n, f in self.folders.items()},
        }


class MailStore:
    """All accounts, behind one lock: requests arrive on several threads."""

    def __init__(self, seed_folder=None):
        self.lock = threading.RLock()
        self.seed_folder = seed_folder
        self.accounts = {}
        self.sent = []  # every accepted send, for tests to inspect
        if seed_folder:
            self.load(seed_folder)

    def load(self, seed_folder):
        with self.lock:
            self.accounts = {}
            self.sent = []
            for entry in sorted(os.listdir(seed_folder)):
                path = os.path.join(seed_folder, entry)
                if os.path.isfile(os.path.join(path, ACCOUNT_FILE)):
                    self._load_account(entry, path)

    def _load_account(self, name, path):
        with open(os.path.join(path, ACCOUNT_FILE), encoding="utf-8") as f:
            settings = json.load(f)
        account = Account(name.lower(), settings.get("password", ""), settings.get("flags"),
                          settings.get("page_size", DEFAULT_PAGE_SIZE))
        read = set(settings.get("read", []))
        for folder_name in sorted(os.listdir(path)):
            folder_path = os.path.join(path, folder_name)
            if not os.path.isdir(folder_path):
                continue
            for file_name in sorted(os.listdir(folder_path)):
                if not file_name.lower().endswith(".eml"):
                    continue
                with open(os.path.join(folder_path, file_name), "rb") as f:
                    raw = f.read()
                stem = file_name[:-4]
                account.add(folder_name, raw, "%s/%s" % (folder_name, file_name) in read, stem)
        for order in settings.get("generate", []):
            folder_name = order.get("folder", "inbox")
            msg = account.add(folder_name, generated_message(order), False, order.get("id", ""))
            msg.read = "%s/%s" % (folder_name, msg.id) in read
        # Generated messages take their place among the files by id, so that
        # a listing shows them where their names put them.
        for folder in account.folders.values():
            folder.messages.sort(key=lambda m: m.id)
        self.accounts[account.name] = account

    def account(self, name):
        return self.accounts.get((name or "").lower())

    def add_account(self, name, password, flags=None, page_size=DEFAULT_PAGE_SIZE):
        with self.lock:
            account = Account(name.lower(), password, flags, page_size)
            self.accounts[account.name] = account
            return account

    def deliver(self, sender, recipients, raw, from_account=None, save_in_sent=False):
        """Accepts one sent message: copies it to the sender's sent folder when
        asked and into the inbox of every recipient that lives here."""
        with self.lock:
            record = {
                "account": from_account.name if from_account else "",
                "mail_from": sender,
                "rcpt_to": list(recipients),
                "save_in_sent": save_in_sent,
                "data": raw.decode("latin-1"),
            }
            self.sent.append(record)
            if from_account is not None and save_in_sent:
                from_account.add("sent", raw, read=True)
            for rcpt in recipients:
                address = rcpt.strip().strip("<>").strip()
                local = self.account(address)
                if local is not None:
                    local.add("inbox", raw)
            return record

    def snapshot(self):
        with self.lock:
            return {
                "accounts": {n: a.snapshot() for n, a in self.accounts.items()},
                "sent": list(self.sent),
            }


def generated_bytes(seed, size):
    """Deterministic bytes that look random (SHA-256 in counter mode), so that
    a large attachment need not be stored and a test can make it again."""
    out = bytearray()
    counter = 0
    seed_bytes = seed.encode("utf-8")
    while len(out) < size:
        out += hashlib.sha256(seed_bytes + counter.to_bytes(8, "big")).digest()
        counter += 1
    return bytes(out[:size])


def generated_message(order):
    """A message with a text and one generated binary attachment, from an
    account file's "generate" entry."""
    from email.mime.application import MIMEApplication
    from email.mime.multipart import MIMEMultipart
    from email.mime.text import MIMEText

    # A fixed boundary keeps the size the same from one load to the next.
    message = MIMEMultipart("mixed", boundary="=_generated_%s" % order.get("id", "part"))
    message["From"] = order.get("from", "Generator <generator@example.com>")
    if order.get("to"):
        message["To"] = order["to"]
    message["Subject"] = order.get("subject", "Generated message")
    message["Date"] = order.get("date", "Mon, 07 Dec 2026 12:00:00 +0000")
    message["Message-ID"] = "<%s@generated.invalid>" % order.get("id", "generated")
    message.attach(MIMEText(order.get("text", "See the attachment.") + "\n", "plain", "us-ascii"))
    attachment = order.get("attachment")
    if attachment:
        kind = attachment.get("type", "application/octet-stream").split("/", 1)
        part = MIMEApplication(generated_bytes(attachment.get("seed", "seed"),
                                               int(attachment.get("size", 1024))),
                               kind[1] if len(kind) == 2 else "octet-stream")
        part.replace_header("Content-Type", "%s; name=\"%s\"" % ("/".join(kind),
                                                                 attachment.get("name", "data.bin")))
        part.add_header("Content-Disposition", "attachment",
                        filename=attachment.get("name", "data.bin"))
        message.attach(part)
    return message.as_bytes()
