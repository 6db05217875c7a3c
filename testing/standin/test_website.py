"""Drives the stand-in's web site over loopback the way a browser does (a
cookie jar, form posts, redirects followed), and reads the pages the way the
gateway's scraper does: by table ids, classes, link titles and form names."""

import base64
import email
import email.policy
import html
import http.client
import http.cookiejar
import json
import os
import re
import subprocess
import sys
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
import uuid
from html.parser import HTMLParser

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import mailstore  # noqa: E402
import website  # noqa: E402
from test_standin import HOTMAIL, LIST_BODY, GatewayClient, props_of  # noqa: E402

USER, PASSWORD = "site@hotmail.com", "site-pass"
INBOX = "00000000-0000-0000-0000-000000000001"
JUNK = "00000000-0000-0000-0000-000000000005"
VOID = {"input", "img", "br", "meta", "hr", "link", "col", "area", "base", "wbr"}


class Node:
    def __init__(self, tag, attrs, parent=None):
        self.tag, self.attrs, self.parent = tag, dict(attrs), parent
        self.children = []
        self.texts = []

    def get(self, name):
        return self.attrs.get(name) or ""

    def all(self, tag=None):
        for child in self.children:
            if tag is None or child.tag == tag:
                yield child
            yield from child.all(tag)

    def text(self):
        return "".join(self.texts) + "".join(c.text() for c in self.children)


class Dom(HTMLParser):
    """Just enough of a document tree for the checks below."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.root = Node("#document", {})
        self.current = self.root
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs, self.current)
        self.current.children.append(node)
        if tag not in VOID:
            self.current = node

    def handle_endtag(self, tag):
        node = self.current
        while node is not self.root and node.tag != tag:
            node = node.parent
        if node is not self.root:
            self.current = node.parent

    def handle_data(self, data):
        # Text after a child is kept with its parent, out of order; the
        # checks below read texts of nodes whose content is text only.
        self.current.texts.append(data)

    def table(self, table_id):
        return next((t for t in self.root.all("table") if t.get("id") == table_id), None)

    def form(self, name):
        return next((f for f in self.root.all("form") if f.get("name") == name), None)

    def links(self):
        return list(self.root.all("a"))


class Page:
    def __init__(self, url, status, body, headers):
        self.url, self.status, self.headers = url, status, headers
        self.html = body.decode("utf-8", errors="replace")
        self.dom = Dom(self.html)

    def body_html(self):
        return self.html[self.html.find("<body>"):]

    def link_titled(self, title):
        return next((a for a in self.dom.links() if a.get("title").strip() == title), None)


class Browser:
    """One cookie store, as one browser profile."""

    def __init__(self, base):
        self.base = base
        self.jar = http.cookiejar.CookieJar()
        self.opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(self.jar))
        self.cookie_headers = []

    def open(self, path, data=None, headers=None):
        url = path if path.startswith("http") else self.base + path
        if isinstance(data, dict):
            data = urllib.parse.urlencode(data, doseq=True).encode("utf-8")
        request = urllib.request.Request(url, data=data, headers=headers or {})
        try:
            answer = self.opener.open(request, timeout=30)
        except urllib.error.HTTPError as e:
            answer = e
        body = answer.read()
        self.cookie_headers.append(answer.headers.get("Set-Cookie", ""))
        return Page(answer.geturl(), answer.status, body, answer.headers)

    def href(self, link):
        return link.get("href")

    def login(self, user=USER, password=PASSWORD, option="3"):
        home = self.open("/")
        form = home.dom.form("f1")
        return self.open(form.get("action"), {"login": user, "passwd": password,
                                              "LoginOptions": option})

    def cookie_string(self):
        return "; ".join("%s=%s" % (c.name, c.value) for c in self.jar)


def multipart(fields, files):
    boundary = "----formboundary" + uuid.uuid4().hex
    out = []
    for name, value in fields:
        out.append(("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n"
                    % (boundary, name, value)).encode("utf-8"))
    for name, file_name, kind, data in files:
        # Browsers write a quote in a file name as %22.
        out.append(("--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
                    "Content-Type: %s\r\n\r\n" % (boundary, name, file_name.replace('"', "%22"),
                                                    kind))
                   .encode("utf-8") + data + b"\r\n")
    out.append(("--%s--\r\n" % boundary).encode())
    return b"".join(out), "multipart/form-data; boundary=" + boundary


def query_of(url):
    return urllib.parse.parse_qs(urllib.parse.urlsplit(url).query)


class SiteTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "standin.py"), "--max-seconds", "600"],
            stdout=subprocess.PIPE, text=True)
        line = cls.proc.stdout.readline()
        m = re.fullmatch(r"PORT (\d+)\n", line)
        if not m:
            cls.proc.kill()
            raise RuntimeError("no port line: %r" % line)
        cls.port = int(m.group(1))
        cls.base = "http://127.0.0.1:%d" % cls.port

    @classmethod
    def tearDownClass(cls):
        cls.proc.kill()
        cls.proc.wait(timeout=30)
        cls.proc.stdout.close()

    def setUp(self):
        self.control({"reload": True, "clear_faults": True, "clear_requests": True,
                      "forget_nonces": True})
        self.browser = Browser(self.base)

    def control(self, orders=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            if orders is None:
                conn.request("GET", "/_control")
            else:
                conn.request("POST", "/_control", json.dumps(orders),
                             {"Content-Type": "application/json"})
            answer = conn.getresponse()
            return json.loads(answer.read())
        finally:
            conn.close()

    def fault(self, name, setting=None):
        self.control({"faults": {name: setting or {}}})

    def folder(self, name, account=USER):
        return self.control()["accounts"][account]["folders"][name]

    def inbox(self, browser=None, page=0):
        browser = browser or self.browser
        today = browser.login()
        mail = next(a for a in today.dom.links() if a.text().strip() == "Mail")
        listing = browser.open(mail.get("href"))
        if page:
            listing = browser.open("/cgi-bin/HoTMaiL?curmbox=%s&a=%s&page=%d"
                                   % (INBOX, query_of(listing.url)["a"][0], page))
        return listing

    def message_links(self, page):
        table = page.dom.table("MsgTable")
        self.assertIsNotNone(table, "no message table")
        links = list(table.all("a"))
        return [a.get("href") for a in links[1:] if "/cgi-bin/getmsg?" in a.get("href")]

    # ---- logon --------------------------------------------------------------
    def test_home_page_has_the_logon_form_and_every_answer_sets_the_cookie(self):
        home = self.browser.open("/")
        form = home.dom.form("f1")
        names = [i.get("name") for i in form.all("input")]
        self.assertIn("login", names)
        self.assertIn("passwd", names)
        options = [i.get("value") for i in form.all("input") if i.get("name") == "LoginOptions"]
        self.assertIn("3", options)
        # The scraper's checks read the attributes as the page writes them.
        self.assertRegex(home.html, r'<input [^<>]*name="login" [^<>]*>')
        self.assertIn('name="passwd"', home.html)
        self.assertNotIn("logout", home.html.lower())
        today = self.browser.login()
        self.assertIn("curmbox=", today.url)
        self.assertIn(USER, today.dom.root.text())
        self.assertNotRegex(today.html, r'<input [^<>]*name="?login')
        for cookie in self.browser.cookie_headers:
            self.assertRegex(cookie, r"^HMSITE=[0-9a-f]+; path=/")
            self.assertNotIn("HttpOnly", cookie)

    def test_signed_in_home_page_offers_sign_out_which_ends_the_session(self):
        self.browser.login()
        home = self.browser.open("/")
        out = next(a for a in home.dom.links() if "/logout.srf?" in a.get("href"))
        signed_out = self.browser.open(out.get("href"))
        self.assertNotEqual(urllib.parse.urlsplit(signed_out.url).path, "/")
        self.assertIn('name="passwd"', signed_out.html)
        listing = self.browser.open("/cgi-bin/HoTMaiL?curmbox=" + INBOX)
        self.assertIsNone(listing.dom.table("MsgTable"))
        self.assertIn('name="login"', listing.html)

    def test_inbox_is_reached_by_every_road_the_pages_offer(self):
        today = self.browser.login()
        a = query_of(today.url)["a"][0]
        mail = next(x for x in today.dom.links() if x.text().strip() == "Mail")
        self.assertIn("HoTMaiL", self.browser.open(mail.get("href")).url)
        mine = today.link_titled("Go to my Inbox")
        self.assertEqual(mine.text().strip(), "My Messages")
        self.assertIn("HoTMaiL", self.browser.open(mine.get("href")).url)
        self.assertEqual(today.link_titled("Inbox").get("href"),
                         "javascript:HMFO('%s')" % INBOX)
        self.assertEqual(today.link_titled("Junk E-Mail").get("href"),
                         "javascript:HMFO('%s')" % JUNK)
        # What HMFO does, and the junk address the scraper makes from the
        # current one: the token carried, curmbox changed, no page.
        junk = self.browser.open(today.url.replace("hmhome?", "HoTMaiL?")
                                 .replace("curmbox=" + INBOX, "curmbox=" + JUNK))
        self.assertIn("Junk E-Mail", junk.html)
        self.assertEqual(query_of(junk.url)["a"], [a])
        self.assertIn(USER, junk.dom.root.text())

    def test_wrong_password_page_with_and_without_the_error_icon(self):
        answer = self.browser.login(password="wrong")
        self.assertNotIn("curmbox=", answer.url)
        self.assertIn("icon_err", answer.body_html())
        self.assertIn("/gfx/icon_err.gif", answer.html)
        self.fault("no_error_icon")
        answer = self.browser.login(password="wrong")
        self.assertNotIn("icon_err", answer.html)
        self.assertRegex(answer.body_html(), r'<input [^<>]*name="?\'?login"?\'? [^<>]*')
        unknown = self.browser.login(user="nobody@hotmail.com")
        self.assertNotIn("curmbox=", unknown.url)

    def test_bare_user_name_signs_in_to_the_hotmail_account(self):
        today = self.browser.login(user="SITE")
        self.assertIn("curmbox=", today.url)
        self.assertIn(USER, today.html)

    def test_persistent_cookie_only_when_asked(self):
        self.browser.login(option="1")
        self.assertIn("Max-Age=", self.browser.cookie_headers[-1])
        # Every later page keeps it so.
        self.browser.open("/")
        self.assertIn("Max-Age=", self.browser.cookie_headers[-1])
        other = Browser(self.base)
        other.login(option="3")
        self.assertNotIn("Max-Age", " ".join(other.cookie_headers))

    def test_two_browsers_two_accounts_stay_apart(self):
        self.control({"add_account": {"name": "second@hotmail.com", "password": "pw2"}})
        self.control({"add_message": {"account": "second@hotmail.com", "id": "only-one",
                                      "raw": "Subject: for second\r\n\r\nhi\r\n"}})
        first_list = self.inbox()
        second = Browser(self.base)
        second.login("second@hotmail.com", "pw2")
        second_list = second.open("/cgi-bin/HoTMaiL?curmbox=" + INBOX)
        self.assertIn("second@hotmail.com", second_list.dom.root.text())
        self.assertEqual([query_of(u)["msg"][0] for u in self.message_links(second_list)],
                         ["only-one"])
        again = self.browser.open(first_list.url)
        self.assertEqual(len(self.message_links(again)), 5)
        self.assertNotIn("only-one", again.html)
        # Signing one out leaves the other signed in.
        home = second.open("/")
        second.open(next(a for a in home.dom.links() if "/logout" in a.get("href")).get("href"))
        self.assertIsNotNone(self.browser.open(first_list.url).dom.table("MsgTable"))

    def test_httpmail_cookie_is_not_a_site_session(self):
        client = GatewayClient(self.port, USER, PASSWORD)
        client.request("PROPFIND", HOTMAIL, "", {"Depth": "0"})
        self.assertTrue(client.cookie.startswith("SID="))
        page = self.browser.open("/cgi-bin/HoTMaiL?curmbox=" + INBOX,
                                 headers={"Cookie": client.cookie})
        self.assertIsNone(page.dom.table("MsgTable"))

    # ---- listings -----------------------------------------------------------
    def test_listing_pages_cover_the_folder_once_with_sizes_and_read_marks(self):
        listing = self.inbox()
        seen = []
        pages = 0
        texts = []
        while True:
            pages += 1
            texts.append(listing.html)
            table = listing.dom.table("MsgTable")
            self.assertNotEqual(table.get("class"), "Mtab")
            first_link = next(table.all("a")).get("href")
            self.assertNotIn("getmsg", first_link)
            seen += self.message_links(listing)
            n = int((re.search(r"page=(\d+)", listing.url) or [0, "1"])[1])
            nxt = listing.link_titled("Next Page")
            if ("page=%d" % (n + 1)) not in listing.body_html():
                self.assertIsNone(nxt)
                break
            listing = self.browser.open(nxt.get("href"))
        self.assertEqual(pages, 3)
        ids = [query_of(u)["msg"][0] for u in seen]
        self.assertEqual(len(ids), 13)
        self.assertEqual(len(set(ids)), 13)
        client = GatewayClient(self.port, USER, PASSWORD)
        answer, data = client.request("PROPFIND", HOTMAIL + "/folders/inbox/", LIST_BODY,
                                      {"Depth": "1,noroot"})
        dav = {href.rsplit("/", 1)[1]: props for href, props in props_of(data)}
        for url in seen:
            q = query_of(url)
            props = dav[q["msg"][0]]
            self.assertEqual(q["len"][0], props["D:getcontentlength"])
            self.assertEqual("msgread" in q, props["hm:read"] == "1", url)
        # A row holds its own id and no other, so ticking by id is safe.
        for text in texts:
            table = text[text.find('<table id="MsgTable"'):]
            for row in table[:table.find("</table>")].split("<tr")[2:]:
                self.assertEqual(sum(i in row for i in ids), 1, row)

    def test_listing_without_message_table_switch(self):
        self.fault("no_msg_table")
        listing = self.inbox()
        self.assertIsNone(listing.dom.table("MsgTable"))
        self.assertIsNotNone(listing.dom.table("MsgList"))

    def test_opening_a_message_marks_it_read_for_httpmail_too(self):
        listing = self.inbox()
        url = next(u for u in self.message_links(listing) if "msgread=1" not in u)
        mid = query_of(url)["msg"][0]
        self.browser.open(url)
        inbox = {m["id"]: m for m in self.folder("inbox")}
        self.assertTrue(inbox[mid]["read"])
        again = self.browser.open(listing.url)
        self.assertTrue(any(mid in u and "msgread=1" in u for u in self.message_links(again)))

    # ---- listing commands ---------------------------------------------------
    def command(self, listing, action, ids, tobox=""):
        form = listing.dom.form("hotmail")
        fields = {i.get("name"): i.get("value") for i in form.all("input")
                  if i.get("type") == "hidden"}
        fields.update({"_HMaction": action, "msgsel": ids, "tobox": tobox})
        return self.browser.open(form.get("action"), fields)

    def test_listing_commands_delete_mark_unread_and_move(self):
        listing = self.inbox()
        html_text = listing.body_html()
        self.assertRegex(html_text, r"<a [^>]*Subm\('delete'")
        cell = next(td for td in listing.dom.root.all("td")
                    if "Subm('markunread'" in td.get("onclick"))
        self.assertEqual(cell.text(), "Mark As Unread")
        after = self.command(listing, "delete", ["01-welcome", "02-photo"])
        self.assertNotEqual(after.url, listing.url)
        self.assertIn("page=1", after.url)
        ids = [m["id"] for m in self.folder("inbox")]
        self.assertNotIn("01-welcome", ids)
        self.assertEqual({m["id"] for m in self.folder("deleted")}, {"01-welcome", "02-photo"})
        self.assertIn("06-minutes", after.html)  # moved up from the second page
        again = self.command(after, "markunread", ["08-invoice"])
        self.assertNotEqual(again.url, after.url)
        self.assertFalse({m["id"]: m for m in self.folder("inbox")}["08-invoice"]["read"])
        # From the junk folder back to the inbox by its "Move To" cell.
        junk = self.browser.open(after.url.replace("curmbox=" + INBOX, "curmbox=" + JUNK))
        fldr = junk.dom.table("FldrTable")
        inbox_cell = next(td for td in fldr.all("td") if td.text() == "Inbox")
        self.assertEqual(inbox_cell.get("onclick"), "PI('MoveTo',0,1,'%s')" % INBOX)
        self.command(junk, "MoveTo", ["01-prize"], INBOX)
        self.assertIn("01-prize", [m["id"] for m in self.folder("inbox")])
        self.assertNotIn("01-prize", [m["id"] for m in self.folder("junk")])

    def test_delete_on_the_last_page_lands_on_a_page_that_exists(self):
        listing = self.inbox(page=3)
        ids = [query_of(u)["msg"][0] for u in self.message_links(listing)]
        after = self.command(listing, "delete", ids)
        self.assertIn("page=2", after.url)
        self.assertEqual(len(self.message_links(after)), 5)

    # ---- message pages ------------------------------------------------------
    def open_message(self, mid):
        listing = self.inbox()
        a = query_of(listing.url)["a"][0]
        return self.browser.open("/cgi-bin/getmsg?curmbox=%s&a=%s&msg=%s&len=1" % (INBOX, a, mid))

    def header_rows(self, page):
        table = next(t for t in page.dom.root.all("table") if t.get("class") == "TH")
        return [[td.text() for td in tr.all("td")] for tr in table.all("tr")]

    def body_table(self, page):
        white = [t for t in page.dom.root.all("table") if t.get("bgcolor").lower() == "#ffffff"]
        self.assertEqual(len(white), 1)
        return next(white[0].all("table"))

    def test_labelled_and_positional_header_tables(self):
        page = self.open_message("12-question")
        rows = self.header_rows(page)
        self.assertEqual([r[0].replace("\xa0", " ") for r in rows],
                         ["From :", "Reply-To :", "Sent :", "To :", "CC :", "Subject :"])
        self.assertEqual(rows[2][1], "Mon, 07 Dec 2026 14:30:00 +0100")
        self.assertEqual(rows[5][1], "A question about the report")
        self.fault("positional_headers", {"count": 1})
        page = self.open_message("12-question")
        self.assertIn("&nbsp;:", page.html)
        rows = self.header_rows(page)
        self.assertTrue(all(r[0].strip("\xa0 :") == "" for r in rows))
        self.assertEqual([r[1] for r in rows][1:3],
                         ["nora.falk@example.org", "Mon, 07 Dec 2026 14:30:00 +0100"])

    def test_plain_eight_bit_and_html_bodies(self):
        page = self.open_message("04-eight-bit")
        body = self.body_table(page)
        self.assertIn("schöne Grüße aus Köln", body.text())
        self.assertIn("Jörg Müller", self.header_rows(page)[0][1])
        page = self.open_message("05-newsletter")
        body = self.body_table(page)
        self.assertEqual(body.get("id"), "MsgBody")
        hrefs = [a.get("href") for a in body.all("a")]
        self.assertIn("javascript:OL('http://example.com/week49')", hrefs)
        self.assertIn("javascript:OL('ftp://ftp.example.com/digest/week49.txt')", hrefs)
        mailto = next(h for h in hrefs if "compose" in h)
        self.assertEqual(query_of(mailto)["to"], ["editor@example.com"])
        self.assertNotIn("tracking", body.text())
        self.assertNotIn("/gfx/", self.html_of_body(page))
        self.assertNotIn("/ads/", self.html_of_body(page))
        self.assertNotIn("logout", self.html_of_body(page))

    def html_of_body(self, page):
        start = page.html.find('<table id="MsgBody"')
        return page.html[start:page.html.find("</table></td></tr></table></div>", start)]

    def test_attachment_pages_and_exact_downloads(self):
        page = self.open_message("03-archive")
        links = list(page.dom.table("AttTable").all("a"))
        self.assertNotIn("mimepart", links[0].get("href"))
        link = links[1]
        self.assertIn("/getmsg?", link.get("href"))
        self.assertIn("mimepart", link.get("href"))
        self.assertEqual(link.text(), "archive.bin")
        attach = self.browser.open(link.get("href"))
        cell = next(td for td in attach.dom.root.all("td") if "newAttachWin(" in
                    "".join(a.get("href") for a in td.all("a")))
        href = next(cell.all("a")).get("href")
        download = re.search(r"newAttachWin\('(http://[^<> '\")]*)'\)", href).group(1)
        self.assertIn("saferd", download)
        self.assertTrue(download.startswith(self.base + "/"))
        # The download as the gateway makes it: a plain GET with the page's cookies.
        request = urllib.request.Request(download, headers={
            "Cookie": self.browser.cookie_string(),
            "User-Agent": "compatible; MSIE 6.0; Windows NT 5.1; SV1"})
        data = urllib.request.urlopen(request, timeout=60).read()
        self.assertEqual(data, mailstore.generated_bytes("site-archive", 1048576))
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(download, timeout=30)
        self.assertEqual(refused.exception.code, 403)
        # The control endpoint gives the same bytes without a session.
        number = int(query_of(download)["mimepart"][0])
        raw = urllib.request.urlopen("%s/_control/part?account=%s&msg=03-archive&mimepart=%d"
                                     % (self.base, USER, number), timeout=60).read()
        self.assertEqual(raw, data)

    def test_a_download_of_several_megabytes_is_exact(self):
        raw = mailstore.generated_message({"id": "big-one", "attachment": {
            "name": "big.bin", "size": 5 * 1024 * 1024 + 7, "seed": "big"}})
        self.control({"add_message": {"account": USER, "id": "big-one",
                                      "raw": raw.decode("latin-1")}})
        page = self.open_message("big-one")
        link = list(page.dom.table("AttTable").all("a"))[1]
        attach = self.browser.open(link.get("href"))
        download = re.search(r"newAttachWin\('(http://[^<> '\")]*)'\)", attach.html).group(1)
        data = urllib.request.urlopen(urllib.request.Request(
            html.unescape(download), headers={"Cookie": self.browser.cookie_string()}),
            timeout=60).read()
        self.assertEqual(data, mailstore.generated_bytes("big", 5 * 1024 * 1024 + 7))

    def test_two_attachments_and_an_inline_picture_are_offered_for_download(self):
        page = self.open_message("06-minutes")
        names = [a.text() for a in list(page.dom.table("AttTable").all("a"))[1:]]
        self.assertEqual(names, ["minutes.txt", "slides.pdf"])
        page = self.open_message("02-photo")
        img = next(self.body_table(page).all("img"))
        self.assertRegex(img.get("src"), r"^http://[^ ]*/cgi-bin/saferd\?[^ ]*mimepart=\d")
        link = list(page.dom.table("AttTable").all("a"))[1]
        self.assertEqual(query_of(img.get("src"))["mimepart"], query_of(link.get("href"))["mimepart"])
        picture = urllib.request.urlopen(urllib.request.Request(
            img.get("src"), headers={"Cookie": self.browser.cookie_string()}), timeout=30).read()
        self.assertTrue(picture.startswith(b"\x89PNG"))

    # ---- compose and send ---------------------------------------------------
    def compose(self):
        listing = self.inbox()
        # The scraper's way to the compose page: the page part of the current
        # address replaced.
        url = re.sub(r"/[^/<>]*\?", "/compose?", listing.url, count=1)
        page = self.browser.open(url)
        self.assertIsNotNone(page.dom.form("composeform"))
        return page

    def post_compose(self, page, **fields):
        form = page.dom.form("composeform")
        values = {i.get("name"): i.get("value") for i in form.all("input")
                  if i.get("type") in ("hidden", "text")}
        outgoing = next(i for i in form.all("input") if i.get("name") == "outgoing")
        if "checked" in outgoing.attrs:
            values["outgoing"] = outgoing.get("value")
        values["body"] = next(form.all("textarea")).text()
        values.update(fields)
        return self.browser.open(form.get("action"), values)

    def test_rich_text_editor_switch(self):
        page = self.compose()
        self.assertRegex(page.body_html(), r"Rich-Text\s*Editor\s*On")
        self.assertNotRegex(page.body_html(), r"Rich-Text\s*Editor\s*Off")
        source = "<html><body><p>Hello <b>there</b></p>\n</body></html>"
        rich = self.post_compose(page, body=source, _HMaction="RTEON")
        self.assertRegex(rich.body_html(), r"Rich-Text\s*Editor\s*Off")
        text = next(rich.dom.form("composeform").all("textarea")).text()
        self.assertEqual(text, "<P>Hello <B>there</B></P>")
        self.assertNotIn("<html>", text)
        plain = self.post_compose(rich, _HMaction="RTEOFF")
        self.assertEqual(next(plain.dom.form("composeform").all("textarea")).text(),
                         "Hello there")
        self.fault("rte_literal")
        literal = self.post_compose(plain, body=source, _HMaction="RTEON")
        self.assertEqual(next(literal.dom.form("composeform").all("textarea")).text(), source)

    def attach(self, page, files):
        attach_link = next(a for a in page.dom.links() if a.get("href") ==
                           "javascript:Mail('AttachFile')")
        self.assertIsNotNone(attach_link)
        current = self.post_compose(page, _HMaction="AttachFile")
        for i, (name, kind, data) in enumerate(files):
            form = current.dom.form("doattach")
            self.assertEqual(form.get("enctype"), "multipart/form-data")
            self.assertTrue(any(i.get("name") == "attfile" and i.get("type") == "file"
                                for i in form.all("input")))
            hrefs = [a.get("href") for a in form.all("a")]
            self.assertIn("javascript:DoAttach('OK')", hrefs)
            self.assertIn("javascript:DoAttach('AttachOther')", hrefs)
            command = "OK" if i == len(files) - 1 else "AttachOther"
            fields = [(x.get("name"), x.get("value")) for x in form.all("input")
                      if x.get("type") == "hidden" and x.get("name") != "_HMaction"]
            body, kind_header = multipart(fields + [("_HMaction", command)],
                                          [("attfile", name, kind, data)])
            current = self.browser.open(form.get("action"), body, {"Content-Type": kind_header})
        return current

    def test_send_with_two_attachments_bcc_and_no_copy(self):
        page = self.compose()
        binary = bytes(range(256)) * 40 + b"\r\n--not-a-boundary\r\n" + b"\x00\xff" * 300
        back = self.attach(page, [("notes.txt", "text/plain", b"line one\r\nline two\r\n"),
                                  ("blob.bin", "application/octet-stream", binary)])
        self.assertIsNotNone(back.dom.form("composeform"))
        self.assertIn("notes.txt", back.html)
        self.assertIn("blob.bin", back.html)
        done = self.post_compose(back, to="tester@msn.com", cc="", bcc="hidden@example.com",
                                 subject="Files for you", body="See both files.\nBye",
                                 outgoing="off", _HMaction="Send")
        self.assertIn("Your message has been sent", done.html)
        record = self.control()["sent"][-1]
        self.assertEqual(record["via"], "site")
        self.assertEqual(record["account"], USER)
        self.assertFalse(record["save_in_sent"])
        self.assertEqual(sorted(record["rcpt_to"]), ["hidden@example.com", "tester@msn.com"])
        message = email.message_from_bytes(record["data"].encode("latin-1"),
                                           policy=email.policy.default)
        self.assertIsNone(message["Bcc"])
        self.assertNotIn("hidden@example.com", record["data"])
        self.assertEqual(message["Subject"], "Files for you")
        self.assertEqual(message["From"], USER)
        self.assertNotRegex(record["data"], "[^\r]\n")  # sent as it goes on the wire
        attachments = {p.get_filename(): p.get_content() for p in message.iter_attachments()}
        self.assertEqual(attachments["blob.bin"], binary)
        self.assertEqual(attachments["notes.txt"].replace("\r\n", "\n"), "line one\nline two\n")
        self.assertIn("See both files.", message.get_body(("plain",)).get_content())
        self.assertEqual(self.folder("sent"), [])
        self.assertEqual(len(self.folder("inbox", "tester@msn.com")), 2)

    def test_send_html_with_a_copy_kept_only_when_asked(self):
        page = self.compose()
        rich = self.post_compose(page, body="<p>Hi <i>you</i></p>", _HMaction="RTEON")
        self.post_compose(rich, to="Tester <tester@msn.com>; friend@example.com",
                          cc="copy@example.com", subject="Grüße", _HMaction="Send")
        record = self.control()["sent"][-1]
        self.assertTrue(record["save_in_sent"])
        self.assertEqual(sorted(record["rcpt_to"]),
                         ["copy@example.com", "friend@example.com", "tester@msn.com"])
        message = email.message_from_bytes(record["data"].encode("latin-1"),
                                           policy=email.policy.default)
        self.assertEqual(message["Subject"], "Grüße")
        self.assertIn("<P>Hi <I>you</I></P>", message.get_body(("html",)).get_content())
        self.assertIn("Hi you", message.get_body(("plain",)).get_content())
        self.assertEqual(len(self.folder("sent")), 1)
        self.assertEqual(len(self.folder("inbox", "tester@msn.com")), 2)

    def test_send_without_recipients_shows_the_form_again(self):
        page = self.compose()
        again = self.post_compose(page, subject="nobody", body="text", _HMaction="Send")
        self.assertIsNotNone(again.dom.form("composeform"))
        self.assertIn("Please enter an e-mail address", again.html)
        self.assertEqual(self.control()["sent"], [])
        fields = {i.get("name"): i.get("value") for i in again.dom.form("composeform").all("input")}
        self.assertEqual(fields["subject"], "nobody")

    # ---- switches -----------------------------------------------------------
    def test_httpmail_disabled_leaves_the_site_working(self):
        self.fault("httpmail_disabled")
        client = GatewayClient(self.port, USER, PASSWORD)
        answer, _ = client.request("PROPFIND", HOTMAIL, "", {"Depth": "0"})
        self.assertEqual(answer.status, 404)
        self.assertEqual(len(self.message_links(self.inbox())), 5)

    def test_slow_pages_and_site_down(self):
        self.fault("slow_pages", {"seconds": 1, "count": 1})
        started = time.monotonic()
        self.browser.open("/")
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        self.fault("site_down", {"count": 1})
        with self.assertRaises((urllib.error.URLError, http.client.HTTPException,
                                ConnectionError)):
            self.browser.open("/")
        self.fault("site_down", {"status": 503, "count": 1})
        page = self.browser.open("/")
        self.assertEqual(page.status, 503)
        self.assertIsNone(page.dom.form("f1"))
        self.assertIsNotNone(self.browser.open("/").dom.form("f1"))

    def test_script_navigation_lasts_as_long_as_the_switch(self):
        self.fault("script_navigation", {"count": 2, "interval_ms": 200})
        first = self.browser.open("/?x=1")
        m = re.search(r"location\.replace\(\"([^\"]*)\"\)", first.html)
        self.assertIsNotNone(m)
        self.assertIn("hop=", m.group(1))
        self.assertIn("x=1", m.group(1))
        second = self.browser.open(m.group(1))
        m2 = re.search(r"location\.replace\(\"([^\"]*)\"\)", second.html)
        self.assertNotEqual(m2.group(1), m.group(1))
        self.assertNotIn("location.replace", self.browser.open(m2.group(1)).html)

    def test_logout_link_switch_shows_sign_out_to_a_visitor(self):
        self.fault("logout_link", {"count": 1})
        home = self.browser.open("/")
        self.assertTrue(any("/logout.srf?" in a.get("href") for a in home.dom.links()))
        self.assertFalse(any("/logout" in a.get("href") for a in self.browser.open("/").dom.links()))

    def test_odd_requests_get_an_answer_and_break_nothing(self):
        listing = self.inbox()
        cookie = self.browser.cookie_string()
        odd = [
            ("GET", "/cgi-bin/HoTMaiL?curmbox=bogus&page=abc", None, "", 404),
            ("GET", "/cgi-bin/HoTMaiL?page=-5", None, "", 200),
            ("GET", "/cgi-bin/HoTMaiL?page=99999999999999999999", None, "", 200),
            ("GET", "/cgi-bin/getmsg?msg=nope", None, "", 404),
            ("GET", "/cgi-bin/getmsg?msg=03-archive&mimepart=99", None, "", 404),
            ("GET", "/cgi-bin/saferd?msg=03-archive&mimepart=0", None, "", 404),
            ("GET", "/cgi-bin/saferd?msg=03-archive", None, "", 404),
            ("POST", "/cgi-bin/HoTMaiL", b"\xff\xfe%%%&&&=", "application/x-www-form-urlencoded",
             302),
            ("POST", "/cgi-bin/HoTMaiL", b"_HMaction=MoveTo&tobox=bogus&msgsel=01-welcome",
             "application/x-www-form-urlencoded", 302),
            ("POST", "/cgi-bin/compose", b"_HMaction=Send&draft=none&to=%%%",
             "application/x-www-form-urlencoded", 302),
            ("POST", "/cgi-bin/attach", b"garbage", 'multipart/form-data; boundary="x', 302),
            ("POST", "/cgi-bin/dologin", b"", "application/x-www-form-urlencoded", 302),
        ]
        for method, path, body, kind, status in odd:
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
            try:
                headers = {"Cookie": cookie}
                if kind:
                    headers["Content-Type"] = kind
                conn.request(method, path, body, headers)
                self.assertEqual(conn.getresponse().status, status, path)
            finally:
                conn.close()
        self.assertEqual(len(self.folder("inbox")), 13)
        page = self.browser.open("/cgi-bin/compose?mailto=1&to=%3Cscript%3Ex")
        self.assertIn('value="&lt;script&gt;x"', page.html)
        self.assertEqual(len(self.message_links(self.browser.open(listing.url))), 5)

    def test_scripts_stay_out_of_the_body(self):
        listing = self.inbox()
        head = listing.html[:listing.html.find("<body>")]
        for function in ("function Subm(", "function PI(", "function HMFO(", "function Mail(",
                         "function DoAttach(", "function newAttachWin("):
            self.assertIn(function, head)
        self.assertNotIn("<script", listing.body_html())


class MultipartTest(unittest.TestCase):
    def test_file_bytes_survive_exactly(self):
        data = b"\r\n--x\r\n\r\n" + bytes(range(256)) + b"\r\n"
        body, kind = multipart([("draft", "d1"), ("_HMaction", "OK")],
                               [("attfile", 'a "b".bin', "application/x-test", data)])
        fields, files = website.parse_multipart(body, kind)
        self.assertEqual(fields, {"draft": ["d1"], "_HMaction": ["OK"]})
        self.assertEqual(files, [("attfile", 'a "b".bin', "application/x-test", data)])

    def test_broken_bodies_give_what_they_hold(self):
        self.assertEqual(website.parse_multipart(b"junk", "multipart/form-data"), ({}, []))
        body, kind = multipart([("a", "1")], [])
        cut = body[:len(body) // 2]
        fields, files = website.parse_multipart(cut, kind)
        self.assertEqual(files, [])
        self.assertLessEqual(len(fields), 1)


if __name__ == "__main__":
    unittest.main()
