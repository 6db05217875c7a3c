"""The web-site half of the stand-in: the pages a person (or the gateway's
scraper, in its embedded browser) uses, over the same mailbox store as the
HTTPMail half. README.md describes every page, address, form and switch."""

import html
import re
import secrets
import threading
import time
from urllib.parse import parse_qs, quote, urlencode, urlsplit

import mailstore
import mimeview
import sitepages
from sitepages import INBOX_ID, JUNK_ID, fresh

COOKIE_NAME = "HMSITE"
PERSISTENT_SECONDS = 14 * 24 * 3600  # "sign me in automatically"
DRAFT_LIMIT = 20  # drafts kept per session; the oldest go first
BARE_DOMAIN = "@hotmail.com"

# Folder name in the store -> (curmbox id, name shown on the site). Other
# folders get ids from OTHER_FOLDER_BASE on, in name order.
SITE_FOLDERS = {
    "inbox": (INBOX_ID, "Inbox"),
    "deleted": ("00000000-0000-0000-0000-000000000002", "Trash Can"),
    "sent": ("00000000-0000-0000-0000-000000000003", "Sent Messages"),
    "drafts": ("00000000-0000-0000-0000-000000000004", "Drafts"),
    "junk": (JUNK_ID, "Junk E-Mail"),
    "outbox": ("00000000-0000-0000-0000-000000000006", "Outbox"),
}
LIST_ORDER = ["inbox", "junk", "sent", "drafts", "deleted", "outbox"]
OTHER_FOLDER_BASE = 100

SIGNED_IN_PATHS = ("/cgi-bin/hmhome", "/cgi-bin/HoTMaiL", "/cgi-bin/getmsg",
                   "/cgi-bin/saferd", "/cgi-bin/compose", "/cgi-bin/attach",
                   "/cgi-bin/sendconfirm", "/cgi-bin/help")


class Draft:
    def __init__(self):
        self.id = secrets.token_hex(6)
        self.fields = {}
        self.body = ""
        self.rich = False
        self.literal = False  # the editor took the body as text
        self.save_copy = True
        self.attachments = []  # (name, content type, bytes)
        self.touched = time.time()


class Session:
    def __init__(self, account_name="", persistent=False):
        self.account = account_name
        self.persistent = persistent  # the cookie outlives the browser
        self.a = secrets.token_hex(16)
        self.drafts = {}

    def draft(self, draft_id):
        d = self.drafts.get(draft_id or "")
        if d is None:
            d = Draft()
            self.drafts[d.id] = d
            while len(self.drafts) > DRAFT_LIMIT:
                oldest = min(self.drafts.values(), key=lambda x: x.touched)
                del self.drafts[oldest.id]
        d.touched = time.time()
        return d


def folder_ids(account):
    """[(curmbox id, store name, shown name, unread)] in the site's order."""
    out = []
    others = sorted(n for n in account.folders if n not in SITE_FOLDERS)
    for name in LIST_ORDER:
        if name in account.folders:
            fid, shown = SITE_FOLDERS[name]
            out.append((fid, name, shown, account.folders[name].unread))
    for i, name in enumerate(others):
        fid = "00000000-0000-0000-0000-%012d" % (OTHER_FOLDER_BASE + i)
        out.append((fid, name, name, account.folders[name].unread))
    return out


def folder_by_id(account, folder_id):
    for fid, name, shown, _ in folder_ids(account):
        if fid.lower() == (folder_id or "").strip().lower():
            return fid, account.folders[name], shown
    return None, None, None


def parse_form(h):
    """Fields of a POST body: {name: [values]} and [(name, file name, type,
    bytes)] for uploaded files."""
    kind = h.headers.get("Content-Type") or ""
    if kind.lower().startswith("multipart/form-data"):
        return parse_multipart(h.body, kind)
    text = h.body.decode("utf-8", errors="replace")
    return parse_qs(text, keep_blank_values=True), []


def parse_multipart(body, content_type):
    """multipart/form-data with the file bytes kept exactly. A part is what
    lies between one delimiter line and the CR LF before the next."""
    m = re.search(r'boundary=(?:"([^"]+)"|([^;\s]+))', content_type, re.I)
    fields, files = {}, []
    if not m:
        return fields, files
    delimiter = b"\r\n--" + (m.group(1) or m.group(2)).encode("latin-1")
    chunks = (b"\r\n" + body).split(delimiter)
    for chunk in chunks[1:]:
        if chunk.startswith(b"--"):
            break
        if not chunk.startswith(b"\r\n"):
            continue
        head, sep, data = chunk[2:].partition(b"\r\n\r\n")
        if not sep:
            continue
        headers = {}
        for line in head.decode("utf-8", errors="replace").split("\r\n"):
            key, _, value = line.partition(":")
            headers[key.strip().lower()] = value.strip()
        disposition = headers.get("content-disposition", "")
        name = disposition_param(disposition, "name")
        file_name = disposition_param(disposition, "filename")
        if file_name is not None:
            files.append((name, file_name, headers.get("content-type", ""), data))
        elif name is not None:
            fields.setdefault(name, []).append(data.decode("utf-8", errors="replace"))
    return fields, files


def disposition_param(disposition, key):
    m = re.search(r'(?:^|;)\s*%s="((?:[^"\\]|\\.)*)"' % key, disposition)
    if m:
        # Browsers write a quote in a file name as %22 and a line break as %0A.
        return m.group(1).replace("%22", '"').replace("%0D", "\r").replace("%0A", "\n")
    m = re.search(r"(?:^|;)\s*%s=([^;]*)" % key, disposition)
    return m.group(1).strip() if m else None


def first(fields, name, default=""):
    values = fields.get(name)
    return values[0] if values else default


class WebSiteRoute:
    def __init__(self):
        self.lock = threading.Lock()
        self.sessions = {}  # cookie token -> Session

    def matches(self, path):
        return (path == "/" or path.startswith("/cgi-bin/") or path.startswith("/logout")
                or path.startswith("/gfx/") or path.startswith("/ads/"))

    def forget_sessions(self):
        with self.lock:
            self.sessions.clear()

    # ---- answers ------------------------------------------------------------
    def send_page(self, h, body, status=200, extra_headers=()):
        headers = [("Content-Type", "text/html; charset=utf-8"),
                   ("Cache-Control", "no-cache"), ("Set-Cookie", h.site_cookie)]
        h.answer(status, "", headers + list(extra_headers), body, bend=False)

    def redirect(self, h, location):
        h.answer(302, "Found", [("Location", location), ("Set-Cookie", h.site_cookie),
                                ("Content-Type", "text/html; charset=utf-8")],
                 b"<html><body>Moved</body></html>", bend=False)

    def cookie_for(self, token, persistent=False):
        cookie = "%s=%s; path=/" % (COOKIE_NAME, token)
        if persistent:
            cookie += "; Max-Age=%d" % PERSISTENT_SECONDS
        return cookie

    def session_of(self, h):
        """(token, Session) of the request's cookie; a new anonymous session
        when it carries none that is known."""
        for header in h.headers.get_all("Cookie") or []:
            for piece in header.split(";"):
                name, _, value = piece.strip().partition("=")
                if name == COOKIE_NAME:
                    with self.lock:
                        session = self.sessions.get(value)
                    if session is not None:
                        return value, session
        return self.new_session("")

    def new_session(self, account_name, persistent=False):
        token = secrets.token_hex(16)
        session = Session(account_name, persistent)
        with self.lock:
            self.sessions[token] = session
        return token, session

    # ---- entry --------------------------------------------------------------
    def handle(self, h, path):
        server, switches = h.server, h.server.faults
        method = h.command
        down = switches.take("site_down", method, h.path)
        if down:
            if down.get("status"):
                h.site_cookie = self.cookie_for("down")
                return self.send_page(h, sitepages.error_page(
                    sitepages.Context(server.base_url), "The service is not available"),
                    int(down["status"]))
            h.close_connection = True
            h.drop_connection()
            return
        slow = switches.take("slow_pages", method, h.path)
        if slow:
            time.sleep(float(slow.get("seconds", 1)))
        if path.startswith("/gfx/"):
            return h.answer(200, "", [("Content-Type", "image/gif")], sitepages.PIXEL_GIF,
                            bend=False)
        if path.startswith("/ads/"):
            return h.answer(200, "", [("Content-Type", "text/html; charset=utf-8")],
                            sitepages.ad_page(), bend=False)

        token, session = self.session_of(h)
        h.site_cookie = self.cookie_for(token, session.persistent)
        query = parse_qs(urlsplit(h.path).query, keep_blank_values=True)
        ctx = sitepages.Context(server.base_url, session.a,
                                hop_script=self.hop_script(h, query))
        store = server.store

        if path == "/":
            return self.home(h, ctx, session, query)
        if path == "/cgi-bin/dologin" and method == "POST":
            return self.login(h)
        if path.startswith("/logout"):
            with self.lock:
                self.sessions.pop(token, None)
            token, session = self.new_session("")
            h.site_cookie = self.cookie_for(token)
            return self.send_page(h, sitepages.signed_out_page(
                sitepages.Context(server.base_url, hop_script=ctx.hop_script)))

        account = store.account(session.account) if session.account else None
        if account is None:
            if any(path.startswith(p) for p in SIGNED_IN_PATHS):
                if path == "/cgi-bin/saferd":
                    return h.answer(403, "Forbidden", [("Content-Type", "text/plain")],
                                    b"sign in first\r\n", bend=False)
                return self.send_page(h, sitepages.home_page(ctx, notice="Please sign in."))
            return self.not_found(h)
        h.account_name = account.name
        ctx.account = account.name
        with h.holding(store.lock):
            ctx.folders = folder_ids(account)
            return self.signed_in(h, path, method, ctx, session, account, query)

    def not_found(self, h):
        h.answer(404, "Not Found", [("Content-Type", "text/plain")], b"no such page\r\n",
                 bend=False)

    def hop_script(self, h, query):
        """With the switch on, a script that keeps replacing the page."""
        hop = h.server.faults.take("script_navigation", h.command, h.path)
        if not hop or h.command != "GET":
            return ""
        parts = urlsplit(h.path)
        fields = [(k, v) for k, vs in parse_qs(parts.query, keep_blank_values=True).items()
                  for v in vs if k != "hop"]
        fields.append(("hop", fresh()))
        target = parts.path + "?" + urlencode(fields)
        return ("\n<script>setTimeout(function () { location.replace(%s); }, %d);</script>"
                % (jsstring(target), int(hop.get("interval_ms", 300))))

    def home(self, h, ctx, session, query):
        store = h.server.store
        account = store.account(session.account) if session.account else None
        error = ""
        icon = True
        if first(query, "err") == "pw":
            error = "The e-mail address or password is incorrect. Please try again."
            icon = not h.server.faults.take("no_error_icon", h.command, h.path)
        elif first(query, "err") == "blocked":
            error = "This account has been blocked."
        show_logout = bool(h.server.faults.take("logout_link", h.command, h.path))
        self.send_page(h, sitepages.home_page(ctx, account.name if account else "", error, icon,
                                              show_logout))

    def login(self, h):
        fields, _ = parse_form(h)
        name = first(fields, "login").strip().lower()
        if name and "@" not in name:
            name += BARE_DOMAIN
        store = h.server.store
        account = store.account(name)
        if account is None or account.password != first(fields, "passwd"):
            return self.redirect(h, "/?err=pw&n=" + fresh())
        if account.flags.get("rejected"):
            return self.redirect(h, "/?err=blocked&n=" + fresh())
        h.account_name = account.name
        # A fresh token at every logon: a cookie seen before the logon never
        # becomes a signed-in session.
        token, session = self.new_session(account.name, first(fields, "LoginOptions") == "1")
        h.site_cookie = self.cookie_for(token, session.persistent)
        self.redirect(h, "/cgi-bin/hmhome?curmbox=%s&a=%s&fti=yes&n=%s"
                      % (INBOX_ID, session.a, fresh()))

    # ---- signed-in pages ----------------------------------------------------
    def signed_in(self, h, path, method, ctx, session, account, query):
        if path == "/cgi-bin/hmhome":
            return self.send_page(h, sitepages.today_page(ctx, account.folders["inbox"].unread))
        if path == "/cgi-bin/HoTMaiL":
            if method == "POST":
                return self.listing_command(h, ctx, account)
            return self.listing(h, ctx, account, query)
        if path == "/cgi-bin/getmsg":
            return self.message(h, ctx, account, query)
        if path == "/cgi-bin/saferd":
            return self.saferd(h, account, query)
        if path == "/cgi-bin/compose":
            if method == "POST":
                return self.compose_post(h, ctx, session, account)
            return self.compose(h, ctx, session, query)
        if path == "/cgi-bin/attach":
            if method == "POST":
                return self.attach_post(h, ctx, session)
            draft = session.draft(first(query, "draft"))
            return self.send_page(h, sitepages.attach_page(ctx, draft))
        if path == "/cgi-bin/sendconfirm":
            recipients = [r for r in first(query, "to").split(",") if r]
            return self.send_page(h, sitepages.sent_page(ctx, recipients))
        if path == "/cgi-bin/help":
            return self.send_page(h, ctx.render("Help", sitepages.chrome(ctx) +
                                                "<p>Help is not available.</p>"))
        return self.not_found(h)

    def listing(self, h, ctx, account, query):
        fid, folder, shown = folder_by_id(account, first(query, "curmbox") or INBOX_ID)
        if folder is None:
            return self.send_page(h, sitepages.not_found_page(ctx, "No such folder."), 404)
        size = account.page_size
        pages = max(1, (len(folder.messages) + size - 1) // size)
        try:
            number = int(first(query, "page") or "1")
        except ValueError:
            number = 1
        number = min(max(number, 1), pages)
        start = (number - 1) * size
        rows = []
        for msg in folder.messages[start:start + size]:
            view_from = mimeview.decode_header_text(msg.header("From"))
            name = re.sub(r"\s*<[^>]*>\s*$", "", view_from).strip().strip('"') or view_from
            rows.append((msg, name, mimeview.decode_header_text(msg.header("Subject")),
                         mimeview.shown_date(msg.header("Date"))))
        table_id = "MsgList" if h.server.faults.take("no_msg_table", h.command, h.path) \
            else "MsgTable"
        self.send_page(h, sitepages.listing_page(ctx, fid, shown, rows, number, pages, start,
                                                 table_id))

    def listing_command(self, h, ctx, account):
        fields, _ = parse_form(h)
        fid, folder, _ = folder_by_id(account, first(fields, "curmbox") or INBOX_ID)
        if folder is None:
            return self.send_page(h, sitepages.not_found_page(ctx, "No such folder."), 404)
        action = first(fields, "_HMaction").strip().lower()
        chosen = [m for m in list(folder.messages) if m.id in set(fields.get("msgsel", []))]
        if action == "delete":
            trash = account.folders["deleted"]
            for msg in chosen:
                if folder is trash:
                    account.remove(msg, folder)
                else:
                    account.move(msg, folder, trash)
        elif action in ("markunread", "markread"):
            for msg in chosen:
                msg.read = action == "markread"
        elif action == "moveto":
            _, target, _ = folder_by_id(account, first(fields, "tobox"))
            if target is not None:
                for msg in chosen:
                    account.move(msg, folder, target)
        try:
            number = max(1, int(first(fields, "page") or "1"))
        except ValueError:
            number = 1
        pages = max(1, (len(folder.messages) + account.page_size - 1) // account.page_size)
        self.redirect(h, ctx.folder_url(fid, min(number, pages)) + "&n=" + fresh())

    def find(self, account, query):
        msg_id = first(query, "msg")
        folder, msg = account.find_message(msg_id)
        if msg is None:
            return None, None, None
        fid = next(f for f, name, _, _ in folder_ids(account) if account.folders[name] is folder)
        return fid, folder, msg

    def message(self, h, ctx, account, query):
        fid, _, msg = self.find(account, query)
        if msg is None:
            return self.send_page(h, sitepages.not_found_page(
                ctx, "This message is no longer available."), 404)
        view = mimeview.MessageView(msg.raw)
        try:
            number = int(first(query, "mimepart"))
        except ValueError:
            number = None
        if number is not None:
            part = view.download(number)
            if part is None:
                return self.send_page(h, sitepages.not_found_page(ctx, "No such attachment."),
                                      404)
            return self.send_page(h, sitepages.attachment_page(ctx, fid, msg, number, part.name,
                                                               len(part.data())))
        msg.read = True  # opening a message is reading it, on both halves
        rows = [("From", view.header("From"))]
        if view.header("Reply-To"):
            rows.append(("Reply-To", view.header("Reply-To")))
        rows.append(("Sent", mimeview.shown_date(view.header("Date"))))
        rows.append(("To", view.header("To")))
        if view.header("CC"):
            rows.append(("CC", view.header("CC")))
        rows.append(("Subject", view.header("Subject")))
        downloads = [(d.number, d.name, len(d.data())) for d in view.downloads]
        positional = bool(h.server.faults.take("positional_headers", h.command, h.path))
        self.send_page(h, sitepages.message_page(ctx, fid, msg, rows, downloads,
                                                 self.body_html(ctx, fid, msg, view), positional))

    def body_html(self, ctx, fid, msg, view):
        if view.html is not None:
            return self.rewrite_html(ctx, fid, msg, view, mimeview.body_fragment(
                mimeview.part_text(view.html)))
        text = mimeview.part_text(view.plain) if view.plain is not None else ""
        return '<pre class="PlainText">%s</pre>' % html.escape(text.replace("\r\n", "\n"),
                                                               quote=False)

    def rewrite_html(self, ctx, fid, msg, view, fragment):
        """Pictures of the message itself come from the site's download
        address; mail links open the compose page; outside links go through
        the site's own opener."""

        def picture(m):
            part = view.by_content_id(html.unescape(m.group(2)))
            if part is None:
                return m.group(0)
            return 'src="%s"' % html.escape(
                sitepages.saferd_url(ctx, fid, msg.id, part.number), quote=True)

        def mail_link(m):
            address = html.unescape(m.group(2)).split("?", 1)[0]
            url = "/cgi-bin/compose?curmbox=%s&a=%s&mailto=1&to=%s" % (
                fid, ctx.a, quote(address, safe="@.+-_"))
            return 'href="%s"' % html.escape(url, quote=True)

        def outside_link(m):
            url = m.group(2)
            if "'" in url or "\\" in url:
                return m.group(0)
            return "href=\"javascript:OL('%s')\"" % url

        fragment = re.sub(r"""src\s*=\s*(["']?)cid:([^"'\s>]+)\1""", picture, fragment,
                          flags=re.I)
        fragment = re.sub(r"""href\s*=\s*(["'])mailto:([^"']*)\1""", mail_link, fragment,
                          flags=re.I)
        fragment = re.sub(r"""href\s*=\s*(["'])((?:http|ftp)://[^"'\s<>()]+)\1""", outside_link,
                          fragment, flags=re.I)
        return fragment

    def saferd(self, h, account, query):
        _, _, msg = self.find(account, query)
        part = None
        if msg is not None:
            try:
                part = mimeview.MessageView(msg.raw).download(int(first(query, "mimepart")))
            except ValueError:
                part = None
        if part is None:
            return self.not_found(h)
        name = part.name.replace('"', "_")
        h.answer(200, "", [("Content-Type", part.content_type),
                           ("Content-Disposition", 'attachment; filename="%s"' % name),
                           ("Set-Cookie", h.site_cookie)], part.data(), bend=False)

    # ---- compose ------------------------------------------------------------
    def compose(self, h, ctx, session, query):
        draft = session.draft(first(query, "draft"))
        if first(query, "mailto") == "1" and first(query, "to"):
            draft.fields["to"] = first(query, "to")
        error = ""
        if first(query, "err") == "rcpt":
            error = "Please enter an e-mail address in the To, Cc or Bcc box."
        self.send_page(h, sitepages.compose_page(ctx, draft, error))

    def take_compose_fields(self, draft, fields):
        for name in ("to", "cc", "bcc", "subject"):
            if name in fields:
                draft.fields[name] = first(fields, name)
        if "body" in fields:
            draft.body = first(fields, "body").replace("\r\n", "\n")
        # A copy is kept only for the value "on": a cleared box sends nothing.
        draft.save_copy = first(fields, "outgoing") == "on"

    def compose_url(self, ctx, draft, extra=""):
        return "/cgi-bin/compose?curmbox=%s&a=%s&draft=%s%s&n=%s" % (
            INBOX_ID, ctx.a, draft.id, extra, fresh())

    def compose_post(self, h, ctx, session, account):
        fields, _ = parse_form(h)
        draft = session.draft(first(fields, "draft"))
        self.take_compose_fields(draft, fields)
        action = first(fields, "_HMaction").strip()
        if action == "RTEON" and not draft.rich:
            draft.rich = True
            draft.literal = bool(h.server.faults.take("rte_literal", h.command, h.path))
            if not draft.literal:
                draft.body = mimeview.rich_editor_text(draft.body)
        elif action == "RTEOFF" and draft.rich:
            if not draft.literal:
                draft.body = mimeview.html_to_text(draft.body)
            draft.rich = draft.literal = False
        elif action == "AttachFile":
            return self.redirect(h, "/cgi-bin/attach?curmbox=%s&a=%s&draft=%s&n=%s"
                                 % (INBOX_ID, ctx.a, draft.id, fresh()))
        elif action == "Send":
            return self.send(h, ctx, session, account, draft)
        self.redirect(h, self.compose_url(ctx, draft))

    def send(self, h, ctx, session, account, draft):
        to, cc, bcc = (draft.fields.get(n, "") for n in ("to", "cc", "bcc"))
        recipients = []
        for address in (mimeview.split_addresses(to) + mimeview.split_addresses(cc) +
                        mimeview.split_addresses(bcc)):
            if address.lower() not in [r.lower() for r in recipients]:
                recipients.append(address)
        if not recipients:
            return self.redirect(h, self.compose_url(ctx, draft, "&err=rcpt"))
        raw = mailstore.to_crlf(mimeview.build_message(
            account.name, to, cc, draft.fields.get("subject", ""), draft.body, draft.rich,
            draft.literal, draft.attachments))
        store = h.server.store
        record = store.deliver(account.name, recipients, raw, account, draft.save_copy)
        record["via"] = "site"
        session.drafts.pop(draft.id, None)
        self.redirect(h, "/cgi-bin/sendconfirm?curmbox=%s&a=%s&to=%s&n=%s" % (
            INBOX_ID, ctx.a, quote(",".join(recipients), safe="@,"), fresh()))

    def attach_post(self, h, ctx, session):
        fields, files = parse_form(h)
        draft = session.draft(first(fields, "draft"))
        action = first(fields, "_HMaction").strip()
        if action in ("AttachOther", "OK"):
            for name, file_name, kind, data in files:
                if name == "attfile" and file_name:
                    base = re.split(r"[\\/]", file_name)[-1] or "Attachment"
                    draft.attachments.append((base, kind or "application/octet-stream", data))
        if action == "AttachOther":
            return self.redirect(h, "/cgi-bin/attach?curmbox=%s&a=%s&draft=%s&n=%s"
                                 % (INBOX_ID, ctx.a, draft.id, fresh()))
        self.redirect(h, self.compose_url(ctx, draft))


def jsstring(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("<", "\\x3c") + '"'


def part_bytes(store, account_name, msg_id, number):
    """A message part's decoded bytes, as the site's download gives them, or
    None (for the control endpoint)."""
    account = store.account(account_name)
    if account is None:
        return None
    with store.lock:
        _, msg = account.find_message(msg_id)
        raw = msg.raw if msg is not None else None
    if raw is None:
        return None
    part = mimeview.MessageView(raw).download(number)
    return part.data() if part is not None else None
