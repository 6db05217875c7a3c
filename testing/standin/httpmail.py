"""The HTTPMail half of the stand-in: the two endpoints, their folders and
messages, answered the way the gateway's requests expect.

URLs (PREFIX is the endpoint path the request came through):
  PREFIX                     logon PROPFIND: the folder URLs of the account
  PREFIX/folders/            folder root: one response per folder
  PREFIX/folders/NAME/       a folder: its messages (Depth "1,noroot")
  PREFIX/folders/NAME/ID     a message: GET, PROPPATCH (read flag), MOVE
  PREFIX/sendmsg             POST of message/rfc821
"""

import re
import secrets
import time
import xml.etree.ElementTree as ET
from urllib.parse import quote, unquote, urlsplit
from xml.sax.saxutils import escape

from digest import parse_authorization

ENDPOINTS = ("/svcs/hotmail/httpmail.asp", "/cgi-bin/hmdata")
DAV = "DAV:"
HM = "urn:schemas:httpmail:"
MH = "urn:schemas:mailheader:"
SERVICE_NS = "urn:schemas:standin-mail:"  # used when a request binds none
PREFIXES = {DAV: "D", HM: "hm", MH: "m"}
COOKIE_NAME = "SID"
# Characters XML 1.0 cannot carry; a header may hold them.
XML_INVALID = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]")


def split_endpoint(path):
    """(endpoint, rest of the path) or (None, None)."""
    for endpoint in ENDPOINTS:
        if path == endpoint or path.startswith(endpoint + "/"):
            return endpoint, path[len(endpoint):]
    return None, None


def requested_props(body):
    """The (namespace, name) pairs a PROPFIND body asks for, in order and
    without repeats; None for an empty body (all properties)."""
    if not body.strip():
        return None, {}
    root = ET.fromstring(body)
    foreign = {}
    props = []
    for prop in root.iter("{%s}prop" % DAV):
        for child in prop:
            if not child.tag.startswith("{"):
                continue  # no namespace: nothing the service defines
            ns, _, name = child.tag[1:].partition("}")
            if ns not in PREFIXES and ns not in foreign:
                foreign[ns] = "h" if not foreign else "h%d" % (len(foreign) + 1)
            if (ns, name) not in props:
                props.append((ns, name))
    return props, foreign


class Multistatus:
    """Builds a 207 body with the D/hm/m prefixes the gateway looks for."""

    def __init__(self, foreign, omit=(), overrides=None):
        self.foreign = dict(foreign)
        self.omit = set(omit)
        self.overrides = dict(overrides or {})
        self.parts = []

    def prefix(self, ns):
        if ns in PREFIXES:
            return PREFIXES[ns]
        if ns not in self.foreign:
            self.foreign[ns] = "h" if "h" not in self.foreign.values() else \
                "h%d" % (len(self.foreign) + 1)
        return self.foreign[ns]

    def response(self, href, values, wanted):
        """values: {(ns, name): text}; wanted: the requested pairs or None."""
        keys = list(values) if wanted is None else [k for k in wanted if k in values]
        props = []
        for ns, name in keys:
            tag = "%s:%s" % (self.prefix(ns), name)
            if tag in self.omit:
                continue
            text = XML_INVALID.sub("?", self.overrides.get(tag, values[(ns, name)]))
            props.append("<%s>%s</%s>" % (tag, escape(text), tag) if text != "" else
                         "<%s/>" % tag)
        self.parts.append(
            "<D:response><D:href>%s</D:href><D:propstat><D:prop>%s</D:prop>"
            "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>"
            % (escape(href), "".join(props)))

    def render(self):
        namespaces = ['xmlns:D="DAV:"', 'xmlns:hm="%s"' % HM, 'xmlns:m="%s"' % MH]
        namespaces += ['xmlns:%s="%s"' % (p, escape(ns)) for ns, p in self.foreign.items()]
        return ('<?xml version="1.0" encoding="UTF-8"?>\r\n<D:multistatus %s>%s</D:multistatus>\r\n'
                % (" ".join(namespaces), "".join(self.parts))).encode("utf-8")


class HttpMailRoute:
    def matches(self, path):
        return split_endpoint(path)[0] is not None

    # ---- entry ------------------------------------------------------------------
    def handle(self, h, path):
        server, method = h.server, h.command
        endpoint, rest = split_endpoint(path)
        switches = server.faults

        if switches.take("httpmail_disabled", method, h.path):
            # As if the service had withdrawn the interface: the site is all
            # that is left.
            h.answer(404, "Not Found", [("Content-Type", "text/plain")], b"no such resource\r\n")
            return
        delay = switches.take("delay", method, h.path)
        if delay:
            if delay.get("where") == "body":
                h.delay_in_body = float(delay.get("seconds", 1))
            else:
                time.sleep(float(delay.get("seconds", 1)))
        redirect = switches.take("redirect", method, h.path)
        if redirect:
            headers = []
            if redirect.get("location", True):
                headers.append(("Location", server.base_url + h.path))
            h.answer(302, "Moved Temporarily", headers, b"")
            return
        forced = switches.take("status", method, h.path)
        if forced:
            headers = []
            if forced.get("x_dav_error"):
                headers.append(("X-Dav-Error", forced["x_dav_error"]))
            if forced.get("www_authenticate"):
                headers.append(("WWW-Authenticate", server.digest.challenge()))
            h.answer(int(forced.get("code", 500)), forced.get("reason", ""), headers, b"")
            return
        if switches.take("service_down", method, h.path):
            h.answer(503, "Service Unavailable",
                     [("X-Dav-Error", "1000 The service is down for maintenance")], b"")
            return

        account = self.authenticate(h)
        if account is None:
            return
        h.account_name = account.name
        if account.flags.get("rejected"):
            h.answer(503, "Service Unavailable",
                     [("X-Dav-Error", "2001 This account has been blocked")], b"")
            return
        if account.flags.get("payment_required"):
            h.answer(402, "Payment Required",
                     [("X-Dav-Error", "3001 This account needs a paid subscription")], b"")
            return

        base = server.base_url + endpoint
        with h.holding(server.store.lock):
            self.dispatch(h, account, base, rest)

    def dispatch(self, h, account, base, rest):
        method = h.command
        if rest in ("", "/"):
            if method == "PROPFIND":
                return self.logon_answer(h, account, base)
        elif rest == "/folders/":
            if method == "PROPFIND":
                return self.folder_root(h, account, base)
        elif rest == "/sendmsg":
            if method == "POST":
                return self.send(h, account)
        elif rest == "/contacts/":
            if method == "PROPFIND":
                return self.multistatus(h, Multistatus({}))
        else:
            m = re.fullmatch(r"/folders/([^/]+)/([^/]*)", rest)
            if not m:
                return h.answer(404, "Not Found", [], b"")
            folder = account.folder(unquote(m.group(1)))
            if folder is None:
                return h.answer(404, "Not Found", [], b"")
            if m.group(2) == "":
                if method == "PROPFIND":
                    return self.folder_listing(h, folder, base)
            else:
                msg = folder.find(unquote(m.group(2)))
                if msg is None:
                    return h.answer(404, "Not Found", [], b"")
                if method == "GET":
                    return self.get_message(h, msg)
                if method == "PROPPATCH":
                    return self.mark(h, msg)
                if method == "MOVE":
                    return self.move(h, account, folder, msg, base)
        h.answer(405, "Method Not Allowed", [], b"")

    # ---- authentication -------------------------------------------------------
    def authenticate(self, h):
        """The account the request proves, or None after answering it."""
        server = h.server
        items = None
        authorization = h.headers.get("Authorization")
        if authorization:
            items = parse_authorization(authorization)
        if items is not None:
            account = server.store.account(items.get("username", ""))
            if account is None:
                h.answer(503, "Service Unavailable",
                         [("X-Dav-Error", "2000 No such user id")], b"")
                return None
            why = server.digest.check(items, h.command, h.path, account.password)
            if why == "":
                if self.session_account(h) != account.name:
                    token = secrets.token_hex(12)
                    server.sessions[token] = account.name
                    host = (h.headers.get("Host") or "127.0.0.1").split(":")[0].strip()
                    h.set_cookie = "%s=%s; domain=%s; path=/" % (COOKIE_NAME, token, host)
                return account
            if why == "wrong response":
                bad = server.faults.take("bad_password", h.command, h.path)
                h.answer(401, "Bad Password" if bad else "Unauthorized",
                         [("WWW-Authenticate", server.digest.challenge()),
                          ("X-Dav-Error", "1001 The password is not correct")], b"")
                return None
        else:
            name = self.session_account(h)
            if name and server.store.account(name) is not None:
                return server.store.account(name)
        h.answer(401, "Unauthorized", [("WWW-Authenticate", server.digest.challenge())], b"")
        return None

    def session_account(self, h):
        for header in h.headers.get_all("Cookie") or []:
            for piece in header.split(";"):
                name, _, value = piece.strip().partition("=")
                if name == COOKIE_NAME and value in h.server.sessions:
                    return h.server.sessions[value]
        return ""

    def multistatus(self, h, ms):
        headers = [("Content-Type", "text/xml")]
        cookie = getattr(h, "set_cookie", "")
        if cookie:
            headers.append(("Set-Cookie", cookie))
        h.answer(207, "Multi-Status", headers, ms.render())

    def builder(self, h):
        """(requested props, Multistatus), or (None, None) after answering 400."""
        try:
            wanted, foreign = requested_props(h.body)
        except ET.ParseError:
            h.answer(400, "Bad Request", [], b"")
            return None, None
        omit = h.server.faults.take("omit_props", h.command, h.path) or {}
        override = h.server.faults.take("override_props", h.command, h.path) or {}
        return wanted, Multistatus(foreign, omit.get("props", []), override.get("values"))

    def no_responses(self, h):
        return bool(h.server.faults.take("no_responses", h.command, h.path))

    # ---- PROPFIND answers -----------------------------------------------------
    def logon_answer(self, h, account, base):
        wanted, ms = self.builder(h)
        if ms is None:
            return
        service = next((ns for ns, p in ms.foreign.items() if p == "h"), SERVICE_NS)
        folders = base + "/folders/"
        values = {
            (service, "adbar"): "AdPane=Off*AdSvr=none",
            (HM, "contacts"): base + "/contacts/",
            (HM, "inbox"): folders + "inbox/",
            (HM, "outbox"): folders + "outbox/",
            (HM, "sendmsg"): base + "/sendmsg",
            (HM, "sentitems"): folders + "sent/",
            (HM, "deleteditems"): folders + "deleted/",
            (HM, "drafts"): folders + "drafts/",
            (HM, "msgfolderroot"): folders,
            (service, "sig"): "",
        }
        if not self.no_responses(h):
            ms.response(base, values, wanted)
        self.multistatus(h, ms)

    def folder_root(self, h, account, base):
        # Folders are listed whatever the Depth: the gateway asks the root with
        # Depth 0 and expects every folder back.
        wanted, ms = self.builder(h)
        if ms is None:
            return
        if not self.no_responses(h):
            for folder in account.folders.values():
                ms.response(folder_url(base, folder), folder_values(folder), wanted)
        self.multistatus(h, ms)

    def folder_listing(self, h, folder, base):
        wanted, ms = self.builder(h)
        if ms is None:
            return
        depth = (h.headers.get("Depth") or "infinity").replace(" ", "").lower()
        url = folder_url(base, folder)
        if not self.no_responses(h):
            if "noroot" not in depth:
                ms.response(url, folder_values(folder), wanted)
            if not depth.startswith("0"):
                for msg in folder.messages:
                    ms.response(url + quote(msg.id), message_values(msg), wanted)
        self.multistatus(h, ms)

    # ---- message operations ---------------------------------------------------
    def get_message(self, h, msg):
        body = b"" if h.server.faults.take("empty_message", "GET", h.path) else msg.raw
        h.answer(200, "OK", [("Content-Type", "message/rfc822")], body)

    def mark(self, h, msg):
        try:
            root = ET.fromstring(h.body) if h.body.strip() else None
        except ET.ParseError:
            root = None
        if root is None:
            return h.answer(400, "Bad Request", [], b"")
        for action, flag in (("set", True), ("remove", False)):
            for node in root.iter("{%s}%s" % (DAV, action)):
                for read in node.iter("{%s}read" % HM):
                    msg.read = (read.text or "").strip() != "0" if flag else False
        h.answer(200, "OK", [], b"")

    def move(self, h, account, folder, msg, base):
        destination = h.headers.get("Destination", "")
        path = urlsplit(destination).path
        _, rest = split_endpoint(path)
        m = re.fullmatch(r"/folders/([^/]+)/([^/]+)", rest or "")
        target = account.folder(unquote(m.group(1))) if m else None
        if target is None:
            return h.answer(409, "Conflict", [], b"")
        wanted = unquote(m.group(2))
        if target is not folder:
            existing = account.find_message(wanted)[1]
            if existing is not None and existing is not msg:
                if (h.headers.get("Allow-Rename") or "").strip().lower() != "t":
                    return h.answer(412, "Precondition Failed", [], b"")
                wanted = account.new_id(wanted)
            folder.messages.remove(msg)
            msg.id = wanted
            target.messages.append(msg)
        h.answer(201, "Created", [("Location", folder_url(base, target) + quote(msg.id))], b"")

    def send(self, h, account):
        if "message/rfc821" not in (h.headers.get("Content-Type") or "").lower():
            return h.answer(415, "Unsupported Media Type", [], b"")
        if h.server.faults.take("send_limit", "POST", h.path):
            return h.answer(412, "Precondition Failed",
                            [("X-Dav-Error", "4001 Sending limit reached")], b"")
        lines = re.split(rb"\r\n|\r|\n", h.body)
        sender, recipients, i = None, [], 0
        while i < len(lines) and lines[i] != b"":
            line = lines[i].decode("latin-1")
            if line[:10].upper() == "MAIL FROM:":
                sender = line[10:]
            elif line[:8].upper() == "RCPT TO:":
                recipients.append(line[8:])
            else:
                return h.answer(400, "Bad Request", [], b"")
            i += 1
        message = b"\r\n".join(lines[i + 1:])
        if not sender or not recipients or not message.strip():
            return h.answer(400, "Bad Request", [], b"")
        save = (h.headers.get("SAVEINSENT") or "").strip().lower() == "t"
        h.server.store.deliver(sender, recipients, message, account, save)
        h.answer(200, "OK", [], b"")


def folder_url(base, folder):
    return "%s/folders/%s/" % (base, quote(folder.name))


def folder_values(folder):
    return {
        (DAV, "isfolder"): "1",
        (DAV, "displayname"): folder.display,
        (HM, "special"): folder.special,
        (DAV, "hassubs"): "0",
        (DAV, "nosubs"): "1",
        (HM, "unreadcount"): str(folder.unread),
        (DAV, "visiblecount"): str(len(folder.messages)),
    }


def message_values(msg):
    return {
        (DAV, "isfolder"): "0",
        (HM, "read"): "1" if msg.read else "0",
        (MH, "hasattachment"): "1" if msg.has_attachment else "0",
        (MH, "to"): msg.header("To"),
        (MH, "from"): msg.header("From"),
        (MH, "subject"): msg.header("Subject"),
        (MH, "date"): msg.date_text(),
        (DAV, "getcontentlength"): str(msg.size),
    }
