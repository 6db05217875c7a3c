"""How the web site sees a stored message: its header values as a reader sees
them, the body to show, the parts to offer for download; and the other way
round, the message a compose form turns into."""

import email
import email.charset
import email.errors
import email.header
import email.policy
import email.utils
import html
import mimetypes
import re
from datetime import datetime, timezone
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email import encoders


def decode_header_text(value):
    """A header value with its encoded words decoded; undecodable pieces are
    kept as they stand rather than lost."""
    if not value:
        return ""
    try:
        return str(email.header.make_header(email.header.decode_header(value)))
    except (LookupError, ValueError, UnicodeError, email.errors.HeaderParseError):
        return value


def shown_date(value):
    """The Date header written with seconds, in English, or as it stands when
    it does not parse."""
    try:
        parsed = email.utils.parsedate_to_datetime(value)
    except (TypeError, ValueError, IndexError):
        parsed = None
    if parsed is None:
        return value
    return email.utils.format_datetime(parsed)


def part_text(part):
    payload = part.get_payload(decode=True) or b""
    charset = part.get_content_charset() or "iso-8859-1"
    try:
        return payload.decode(charset, errors="replace")
    except LookupError:
        return payload.decode("iso-8859-1")


class Download:
    def __init__(self, number, part, name):
        self.number = number
        self.part = part
        self.name = name
        self.content_type = part.get_content_type()
        self.content_id = (part.get("Content-ID") or "").strip().strip("<>")

    def data(self):
        return self.part.get_payload(decode=True) or b""


class MessageView:
    """A parsed message. Parts are numbered depth first over the whole tree,
    the message itself being 0; the site's addresses use these numbers."""

    def __init__(self, raw):
        self.message = email.message_from_bytes(raw, policy=email.policy.compat32)
        self.parts = list(self.message.walk())
        self.plain = None
        self.html = None
        self.downloads = []
        for number, part in enumerate(self.parts):
            if part.is_multipart():
                continue
            disposition = (part.get("Content-Disposition") or "").split(";")[0].strip().lower()
            kind = part.get_content_type()
            named = bool(part.get_filename())
            if disposition != "attachment" and not named:
                if kind == "text/plain" and self.plain is None:
                    self.plain = part
                    continue
                if kind == "text/html" and self.html is None:
                    self.html = part
                    continue
            self.downloads.append(Download(number, part, self.name_of(number, part)))

    @staticmethod
    def name_of(number, part):
        name = decode_header_text(part.get_filename() or "")
        name = re.sub(r'[\\/:*?"<>|\r\n]', "_", name).strip()
        if name:
            return name
        extension = mimetypes.guess_extension(part.get_content_type()) or ".bin"
        prefix = "image" if part.get_content_maintype() == "image" else "part"
        return "%s-%d%s" % (prefix, number, extension)

    def header(self, name):
        return decode_header_text(self.message.get(name, "") or "")

    def download(self, number):
        for d in self.downloads:
            if d.number == number:
                return d
        return None

    def by_content_id(self, content_id):
        for d in self.downloads:
            if d.content_id and d.content_id == content_id:
                return d
        return None


BLOCK_END = re.compile(r"<\s*(br\s*/?|/p|/div|/tr|/h[1-6]|/li|/table|/blockquote)\s*>", re.I)
TAG = re.compile(r"<[^>]*>")


def html_to_text(text):
    text = re.sub(r"<(script|style|head)\b.*?</\1\s*>", "", text, flags=re.I | re.S)
    text = BLOCK_END.sub("\n", text)
    text = TAG.sub("", text)
    text = html.unescape(text).replace("\r", "")
    lines = [line.rstrip() for line in text.split("\n")]
    out = []
    for line in lines:
        if line == "" and out and out[-1] == "":
            continue
        out.append(line)
    return "\n".join(out).strip("\n")


def body_fragment(text):
    """What a page may show of an HTML document: the inside of its body,
    without scripts, styles, head, doctype and the document's own tags."""
    text = re.sub(r"<(script|style|head|title)\b.*?</\1\s*>", "", text, flags=re.I | re.S)
    m = re.search(r"<body\b[^>]*>(.*?)(?:</body\s*>|$)", text, re.I | re.S)
    if m:
        text = m.group(1)
    text = re.sub(r"<!DOCTYPE[^>]*>|<!--.*?-->|</?(html|body|head)\b[^>]*>", "", text,
                  flags=re.I | re.S)
    return text.strip()


def rich_editor_text(text):
    """What the rich-text editor hands back for a body it took as HTML: the
    body fragment with tag names in capitals, as the editing component of
    the browsers of the day wrote it."""
    fragment = body_fragment(text)
    return re.sub(r"<(/?)([A-Za-z][A-Za-z0-9]*)",
                  lambda m: "<" + m.group(1) + m.group(2).upper(), fragment)


def split_addresses(text):
    """Recipients typed into a To, Cc or Bcc box, separated by "," or ";"."""
    text = (text or "").replace(";", ",")
    return [addr for _, addr in email.utils.getaddresses([text]) if "@" in addr]


def text_part(text, subtype="plain"):
    try:
        text.encode("us-ascii")
        return MIMEText(text, subtype, "us-ascii")
    except UnicodeEncodeError:
        charset = email.charset.Charset("utf-8")
        charset.body_encoding = email.charset.QP
        return MIMEText(text, subtype, charset)


def header_value(text):
    try:
        text.encode("us-ascii")
        return text
    except UnicodeEncodeError:
        return email.header.Header(text, "utf-8").encode()


def build_message(sender, to, cc, subject, body, rich, literal, attachments):
    """The RFC 822 bytes of a message sent from the compose page. Rich: the
    body is the editor's HTML (or, when Literal, text the editor showed as
    text). Attachments: (name, content type, bytes)."""
    body = body.replace("\r\n", "\n")
    if rich and not literal:
        content = MIMEMultipart("alternative")
        content.attach(text_part(html_to_text(body)))
        content.attach(text_part("<html><body>\n%s\n</body></html>\n" % body, "html"))
    elif rich:
        content = MIMEMultipart("alternative")
        content.attach(text_part(body))
        content.attach(text_part("<html><body><pre>%s</pre></body></html>\n" % html.escape(body),
                                 "html"))
    else:
        content = text_part(body)
    if attachments:
        message = MIMEMultipart("mixed")
        message.attach(content)
        for name, kind, data in attachments:
            main, _, sub = (kind or "application/octet-stream").partition("/")
            part = MIMEBase(main or "application", sub or "octet-stream")
            part.set_payload(data)
            encoders.encode_base64(part)
            part.set_param("name", name)
            part.add_header("Content-Disposition", "attachment", filename=name)
            message.attach(part)
    else:
        message = content
    message["From"] = sender
    if to.strip():
        message["To"] = header_value(to.strip())
    if cc.strip():
        message["Cc"] = header_value(cc.strip())
    message["Subject"] = header_value(subject)
    message["Date"] = email.utils.format_datetime(datetime.now(timezone.utc))
    message["Message-ID"] = email.utils.make_msgid(domain="site.standin.invalid")
    if "MIME-Version" not in message:
        message["MIME-Version"] = "1.0"
    return message.as_bytes()
