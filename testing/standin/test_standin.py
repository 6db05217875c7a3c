"""Drives a real stand-in process over loopback the way the gateway does."""

import hashlib
import http.client
import json
import os
import re
import secrets
import socket
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import faults  # noqa: E402

HOTMAIL = "/svcs/hotmail/httpmail.asp"
MSN = "/cgi-bin/hmdata"
USER, PASSWORD = "demo@hotmail.com", "demo-pass"
NS = {"D": "DAV:", "hm": "urn:schemas:httpmail:", "m": "urn:schemas:mailheader:"}
SERVICE_NS = "http://schemas.test.invalid/service/"

LOGON_BODY = (
    '<?xml version="1.0"?>\r\n<D:propfind xmlns:D="DAV:" xmlns:h="%s" '
    'xmlns:hm="urn:schemas:httpmail:">\r\n\t<D:prop>\r\n\t\t<h:adbar/>\r\n\t\t<hm:contacts/>\r\n'
    '\t\t<hm:inbox/>\r\n\t\t<hm:outbox/>\r\n\t\t<hm:sendmsg/>\r\n\t\t<hm:sentitems/>\r\n'
    '\t\t<hm:deleteditems/>\r\n\t\t<hm:drafts/>\r\n\t\t<hm:msgfolderroot/>\r\n\t\t<h:sig/>\r\n'
    '\t</D:prop>\r\n</D:propfind>\r\n' % SERVICE_NS)
FOLDERS_BODY = (
    '<?xml version="1.0"?>\r\n<D:propfind xmlns:D="DAV:" xmlns:hm="urn:schemas:httpmail:">\r\n'
    '\t<D:prop>\r\n\t\t<D:isfolder/>\r\n\t\t<D:displayname/>\r\n\t\t<hm:special/>\r\n'
    '\t\t<D:hassubs/>\r\n\t\t<D:nosubs/>\r\n\t\t<hm:unreadcount/>\r\n\t\t<D:visiblecount/>\r\n'
    '\t\t<hm:special/>\r\n\t</D:prop>\r\n</D:propfind>\r\n')
LIST_BODY = (
    '<?xml version="1.0"?>\r\n<D:propfind xmlns:D="DAV:" xmlns:hm="urn:schemas:httpmail:" '
    'xmlns:m="urn:schemas:mailheader:">\r\n\t<D:prop>\r\n\t\t<D:isfolder/>\r\n\t\t<hm:read/>\r\n'
    '\t\t<m:hasattachment/>\r\n\t\t<m:to/>\r\n\t\t<m:from/>\r\n\t\t<m:subject/>\r\n'
    '\t\t<m:date/>\r\n\t\t<D:getcontentlength/>\r\n\t</D:prop>\r\n</D:propfind>\r\n')
MARK_READ_BODY = (
    "<?xml version='1.0'?><D:propertyupdate xmlns:D='DAV:' xmlns:hm='urn:schemas:httpmail:'>"
    "<D:set><D:prop><hm:read>1</hm:read></D:prop></D:set></D:propertyupdate>")


def md5(text):
    return hashlib.md5(text.encode("latin-1")).hexdigest()


class GatewayClient:
    """HTTP Digest as the gateway does it: the second hash always over
    "PROPFIND:" + uri, nc counted up across requests, one connection per
    request, a 401 with a challenge answered once."""

    def __init__(self, port, user=USER, password=PASSWORD):
        self.port, self.user, self.password = port, user, password
        self.challenge = ""
        self.cnonce = ""
        self.nc = 0
        self.cookie = ""

    def authorization(self, uri):
        pieces = dict(p.strip().split("=", 1) for p in self.challenge.split(","))
        realm = pieces["Digest realm"].strip('"')
        nonce = pieces["nonce"].strip('"')
        qop = pieces["qop"].strip('"')
        if not self.cnonce:
            self.cnonce = secrets.token_hex(16)
            self.nc = 0
        self.nc += 1
        nc = "%08d" % self.nc
        ha1 = md5("%s:%s:%s" % (self.user, realm, self.password))
        ha2 = md5("PROPFIND:" + uri)
        response = md5(":".join([ha1, nonce, nc, self.cnonce, qop, ha2]))
        return ('Digest username="%s", realm="%s", qop="%s", algorithm="MD5", uri="%s", '
                'nonce="%s", nc=%s, cnonce="%s", response="%s"'
                % (self.user, realm, qop, uri, nonce, nc, self.cnonce, response))

    def request(self, method, path, body=b"", headers=None, use_cookie=True, repeat=True):
        if isinstance(body, str):
            body = body.encode("latin-1")
        all_headers = {"host": "127.0.0.1", "port": str(self.port),
                       "User-Agent": "Outlook Express/5.0 (MSIE 5.0; Windows NT; DigExt)"}
        all_headers.update(headers or {})
        if self.challenge:
            all_headers["Authorization"] = self.authorization(path)
        if use_cookie and self.cookie:
            all_headers["Cookie"] = self.cookie
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
            for name, value in all_headers.items():
                conn.putheader(name, value)
            conn.putheader("Content-Length", str(len(body)))
            conn.endheaders(body)
            answer = conn.getresponse()
            data = answer.read()
        finally:
            conn.close()
        cookie = answer.getheader("Set-Cookie")
        if cookie:
            self.cookie = cookie.split(";")[0]
        challenge = answer.getheader("WWW-Authenticate")
        if answer.status == 401 and challenge and repeat and "bad password" not in \
                answer.reason.lower():
            self.challenge, self.cnonce = challenge, ""
            return self.request(method, path, body, headers, use_cookie, repeat=False)
        return answer, data


def props_of(data):
    """[(href, {"prefix:name": text})] of a multistatus body."""
    root = ET.fromstring(data)
    out = []
    for response in root.findall("D:response", NS):
        values = {}
        for prop in response.iter("{DAV:}prop"):
            for child in prop:
                ns, name = child.tag[1:].split("}")
                prefix = {v: k for k, v in NS.items()}.get(ns, "h")
                values["%s:%s" % (prefix, name)] = child.text or ""
        out.append((response.find("D:href", NS).text, values))
    return out


def raw_exchange(port, request, limit_seconds=20):
    """Sends bytes and reads until the server closes (or the limit)."""
    with socket.create_connection(("127.0.0.1", port), timeout=limit_seconds) as s:
        s.sendall(request)
        chunks = []
        while True:
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                break
            chunks.append(chunk)
        return b"".join(chunks)


class StandinTest(unittest.TestCase):
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
        self.control({"reload": True, "clear_faults": True, "clear_requests": True})
        self.client = GatewayClient(self.port)

    def control(self, orders=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            if orders is None:
                conn.request("GET", "/_control")
            else:
                conn.request("POST", "/_control", json.dumps(orders),
                             {"Content-Type": "application/json"})
            answer = conn.getresponse()
            return answer.status, json.loads(answer.read())
        finally:
            conn.close()

    def state(self):
        return self.control()[1]

    def logon(self, endpoint=HOTMAIL, client=None):
        client = client or self.client
        answer, data = client.request("PROPFIND", endpoint, LOGON_BODY,
                                      {"Depth": "0", "Content-Type": "text/xml", "Brief": "t"})
        return answer, data

    def urls(self, endpoint=HOTMAIL):
        answer, data = self.logon(endpoint)
        self.assertEqual(answer.status, 207)
        return props_of(data)[0][1]

    def listing(self, folder_url):
        answer, data = self.client.request(
            "PROPFIND", folder_url[len(self.base):], LIST_BODY,
            {"Depth": "1,noroot", "Content-Type": "text/xml", "Brief": "t"})
        self.assertEqual(answer.status, 207)
        return props_of(data)

    # ---- logon ------------------------------------------------------------------
    def test_logon_answers_the_requested_properties_after_a_digest_challenge(self):
        answer, data = self.client.request("PROPFIND", HOTMAIL, LOGON_BODY, repeat=False)
        self.assertEqual(answer.status, 401)
        self.assertTrue(answer.getheader("WWW-Authenticate").startswith('Digest realm="'))

        for endpoint in (HOTMAIL, MSN):
            answer, data = self.logon(endpoint)
            self.assertEqual(answer.status, 207)
            self.assertIn(b'xmlns:h="%s"' % SERVICE_NS.encode(), data)
            [(href, values)] = props_of(data)
            self.assertEqual(href, self.base + endpoint)
            self.assertEqual(set(values), {
                "h:adbar", "hm:contacts", "hm:inbox", "hm:outbox", "hm:sendmsg",
                "hm:sentitems", "hm:deleteditems", "hm:drafts", "hm:msgfolderroot", "h:sig"})
            self.assertEqual(values["hm:inbox"], self.base + endpoint + "/folders/inbox/")
            self.assertTrue(values["hm:msgfolderroot"].endswith("/folders/"))
            self.assertTrue(values["hm:deleteditems"].endswith("/"))

        # The session cookie is in the three-piece form the gateway stores,
        # and on its own it stands for the logged-on account.
        self.assertRegex(self.client.cookie, r"^SID=[0-9a-f]+$")
        bare = GatewayClient(self.port)
        bare.cookie = self.client.cookie
        answer, _ = bare.request("PROPFIND", HOTMAIL, LOGON_BODY)
        self.assertEqual(answer.status, 207)

    def test_session_cookie_comes_with_the_proven_password_only(self):
        client = GatewayClient(self.port)
        answer, _ = client.request("PROPFIND", HOTMAIL, LOGON_BODY, repeat=False)
        self.assertEqual(answer.status, 401)
        self.assertIsNone(answer.getheader("Set-Cookie"))
        client.challenge = answer.getheader("WWW-Authenticate")
        answer, _ = client.request("PROPFIND", HOTMAIL, LOGON_BODY, repeat=False)
        self.assertEqual(answer.status, 207)
        # name=value; domain; path: the gateway drops a cookie of fewer pieces.
        pieces = [p.strip() for p in answer.getheader("Set-Cookie").split(";")]
        self.assertEqual(pieces[1:], ["domain=127.0.0.1", "path=/"])

        forged = GatewayClient(self.port)
        forged.cookie = "SID=0123456789abcdef01234567"
        self.assertEqual(forged.request("PROPFIND", HOTMAIL, LOGON_BODY, repeat=False)[0].status,
                         401)

    def test_refusals_carry_the_status_the_gateway_reads(self):
        wrong = GatewayClient(self.port, password="nope")
        answer, _ = wrong.request("PROPFIND", HOTMAIL, LOGON_BODY)
        self.assertEqual((answer.status, answer.reason), (401, "Unauthorized"))
        self.assertTrue(answer.getheader("X-Dav-Error"))

        self.control({"faults": {"bad_password": {}}})
        answer, _ = GatewayClient(self.port, password="nope").request("PROPFIND", HOTMAIL,
                                                                      LOGON_BODY)
        self.assertEqual((answer.status, answer.reason), (401, "Bad Password"))

        answer, _ = GatewayClient(self.port, user="nobody@hotmail.com").request(
            "PROPFIND", HOTMAIL, LOGON_BODY)
        self.assertEqual(answer.status, 503)
        self.assertNotIn("1000", answer.getheader("X-Dav-Error"))

        self.control({"faults": {"service_down": {"count": 1}}})
        answer, _ = self.logon()
        self.assertEqual(answer.status, 503)
        self.assertIn("1000", answer.getheader("X-Dav-Error"))
        self.assertEqual(self.logon()[0].status, 207)  # the count ran out

        self.control({"add_account": {"name": "payer@hotmail.com", "password": "p",
                                      "flags": {"payment_required": True}}})
        answer, _ = GatewayClient(self.port, "payer@hotmail.com", "p").request(
            "PROPFIND", HOTMAIL, LOGON_BODY)
        self.assertEqual(answer.status, 402)

    def test_replayed_nonce_count_and_wrong_uri_are_refused(self):
        self.assertEqual(self.logon()[0].status, 207)
        self.client.nc -= 1  # the next request reuses the last nc
        answer, _ = self.client.request("PROPFIND", HOTMAIL, LOGON_BODY, use_cookie=False,
                                        repeat=False)
        self.assertEqual(answer.status, 401)

        client = GatewayClient(self.port)
        client.request("PROPFIND", HOTMAIL, LOGON_BODY)
        auth = client.authorization(HOTMAIL + "/folders/")
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        conn.request("PROPFIND", HOTMAIL, LOGON_BODY, {"Authorization": auth})
        self.assertEqual(conn.getresponse().status, 401)
        conn.close()

    # ---- folders and messages -------------------------------------------------
    def test_folder_root_lists_every_folder_with_its_special_name(self):
        urls = self.urls()
        answer, data = self.client.request(
            "PROPFIND", urls["hm:msgfolderroot"][len(self.base):], FOLDERS_BODY, {"Depth": "0"})
        self.assertEqual(answer.status, 207)
        folders = {values["hm:special"]: (href, values) for href, values in props_of(data)}
        self.assertTrue({"inbox", "bulkmail", "deleteditems", "sentitems"} <= set(folders))
        href, inbox = folders["inbox"]
        self.assertEqual(href, urls["hm:inbox"])
        self.assertEqual((inbox["D:isfolder"], inbox["hm:unreadcount"],
                          inbox["D:visiblecount"]), ("1", "3", "4"))
        self.assertEqual(folders["deleteditems"][0], urls["hm:deleteditems"])

    def test_listing_sizes_match_the_messages_and_get_keeps_eight_bit_text(self):
        urls = self.urls()
        listed = self.listing(urls["hm:inbox"])
        self.assertEqual(len(listed), 4)
        by_id = {href.rsplit("/", 1)[1]: values for href, values in listed}
        self.assertEqual(by_id["01-welcome"]["hm:read"], "1")
        self.assertEqual(by_id["02-report"]["hm:read"], "0")
        self.assertEqual(by_id["02-report"]["m:hasattachment"], "1")
        self.assertEqual(by_id["02-report"]["m:date"], "2026-12-07T09:02:11")
        self.assertEqual(by_id["04-newsletter"]["m:subject"], "This week's news & offers <HTML>")
        for href, values in listed:
            answer, data = self.client.request("GET", href[len(self.base):],
                                               headers={"Accept": "message/rfc822, */*",
                                                        "Translate": "f"})
            self.assertEqual(answer.status, 200)
            self.assertEqual(answer.getheader("Content-Type"), "message/rfc822")
            self.assertEqual(len(data), int(values["D:getcontentlength"]))
            self.assertNotRegex(data, rb"(?<!\r)\n")
        _, data = self.client.request("GET", urls["hm:inbox"][len(self.base):] + "03-eight-bit")
        self.assertIn("Grüße aus München".encode("latin-1"), data)

        # Raw 8-bit and control bytes in a header still give well-formed XML.
        self.control({"add_message": {"account": USER, "folder": "drafts", "id": "raw8",
                                      "raw": "Subject: Gr\u00fc\u00dfe\x01\r\n\r\nx\r\n"}})
        [(_, draft)] = self.listing(urls["hm:drafts"])
        self.assertEqual(draft["m:subject"], "Gr\u00fc\u00dfe?")

        junk = self.listing(urls["hm:msgfolderroot"] + "junk/")
        self.assertEqual([h.rsplit("/", 1)[1] for h, _ in junk], ["01-prize"])

    def test_mark_read_and_move_to_deleted_items(self):
        urls = self.urls()
        inbox = urls["hm:inbox"]
        path = inbox[len(self.base):] + "02-report"
        answer, _ = self.client.request("PROPPATCH", path, MARK_READ_BODY,
                                        {"content-type": "text/xml"})
        self.assertEqual(answer.status, 200)
        listed = dict((h.rsplit("/", 1)[1], v) for h, v in self.listing(inbox))
        self.assertEqual(listed["02-report"]["hm:read"], "1")

        answer, _ = self.client.request(
            "MOVE", path, headers={"Destination": urls["hm:deleteditems"] + "02-report",
                                   "Allow-Rename": "t"})
        self.assertEqual(answer.status, 201)
        self.assertEqual(answer.getheader("Location"), urls["hm:deleteditems"] + "02-report")
        self.assertNotIn("02-report", [h.rsplit("/", 1)[1] for h, _ in self.listing(inbox)])
        deleted = self.listing(urls["hm:deleteditems"])
        self.assertEqual([h.rsplit("/", 1)[1] for h, _ in deleted], ["02-report"])

        answer, _ = self.client.request("MOVE", path, headers={
            "Destination": urls["hm:deleteditems"] + "02-report"})
        self.assertEqual(answer.status, 404)  # already gone
        answer, _ = self.client.request("MOVE", inbox[len(self.base):] + "01-welcome", headers={
            "Destination": urls["hm:msgfolderroot"] + "nosuchfolder/01-welcome"})
        self.assertEqual(answer.status, 409)

    def test_send_posts_rfc821_and_saves_in_sent_when_asked(self):
        urls = self.urls()
        send_path = urls["hm:sendmsg"][len(self.base):]
        message = ("From: demo@hotmail.com\r\nTo: tester@msn.com\r\nSubject: hi\r\n\r\n"
                   "body line\r\n.\r\n")
        body = ("MAIL FROM:<demo@hotmail.com>\r\nRCPT TO:<tester@msn.com>\r\n"
                "RCPT TO:<far@example.org>\r\n\r\n" + message)
        for save in ("t", "f"):
            answer, _ = self.client.request("POST", send_path, body, {
                "Content-Type": "message/rfc821", "SAVEINSENT": save, "Translate": "f"})
            self.assertEqual(answer.status, 200)
        state = self.state()
        sent = state["sent"]
        self.assertEqual(len(sent), 2)
        self.assertEqual(sent[0]["mail_from"], "<demo@hotmail.com>")
        self.assertEqual(sent[0]["rcpt_to"], ["<tester@msn.com>", "<far@example.org>"])
        self.assertEqual(sent[0]["data"], message)
        demo = state["accounts"]["demo@hotmail.com"]["folders"]
        self.assertEqual([m["subject"] for m in demo["sent"]], ["Re: Quarterly figures", "hi"])
        local = state["accounts"]["tester@msn.com"]["folders"]["inbox"]
        self.assertEqual([m["subject"] for m in local].count("hi"), 2)

        answer, _ = self.client.request("POST", send_path, "MAIL FROM:<a@b>\r\n\r\nx\r\n",
                                        {"Content-Type": "message/rfc821"})
        self.assertEqual(answer.status, 400)
        self.control({"faults": {"send_limit": {}}})
        answer, _ = self.client.request("POST", send_path, body,
                                        {"Content-Type": "message/rfc821"})
        self.assertEqual(answer.status, 412)
        self.assertEqual(len(self.state()["sent"]), 2)

    # ---- faults -----------------------------------------------------------------
    def test_redirects_with_and_without_location(self):
        self.control({"faults": {"redirect": {"count": 2}}})
        answer, _ = self.logon()
        self.assertEqual(answer.status, 302)
        self.assertEqual(answer.getheader("Location"), self.base + HOTMAIL)
        self.control({"faults": {"redirect": {"location": False}}})
        answer, _ = self.logon()
        self.assertEqual(answer.status, 302)
        self.assertIsNone(answer.getheader("Location"))
        self.control({"faults": {"redirect": None}})
        self.assertEqual(self.logon()[0].status, 207)

    def raw_logon(self):
        """A logon request on a raw socket, authorised, as bytes."""
        self.logon()
        auth = self.client.authorization(HOTMAIL)
        body = LOGON_BODY.encode()
        return (b"PROPFIND " + HOTMAIL.encode() + b" HTTP/1.1\r\nhost: 127.0.0.1\r\n"
                b"Authorization: " + auth.encode() + b"\r\nContent-Length: " +
                str(len(body)).encode() + b"\r\nConnection: close\r\n\r\n" + body)

    def test_continue_then_the_real_answer(self):
        request = self.raw_logon()
        self.control({"faults": {"continue": {"count": 1}}})
        reply = raw_exchange(self.port, request)
        self.assertTrue(reply.startswith(b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 207 "), reply[:80])

    def test_207_without_content_length_is_held_open_then_closed(self):
        request = self.raw_logon()
        self.control({"faults": {"no_content_length": {"hold_seconds": 0.5}}})
        reply = raw_exchange(self.port, request)
        head, _, body = reply.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 207 "))
        self.assertNotIn(b"content-length", head.lower())
        self.assertTrue(body.rstrip().endswith(b"</D:multistatus>"))

    def test_a_held_answer_stalls_no_other_request(self):
        for fault in ({"delay": {"seconds": 20, "where": "body", "methods": ["PROPFIND"],
                                 "count": 1}},
                      {"no_content_length": {"hold_seconds": 20, "count": 1}}):
            with self.subTest(fault=fault):
                request = self.raw_logon()
                self.control({"faults": fault})
                with socket.create_connection(("127.0.0.1", self.port), timeout=20) as held:
                    held.sendall(request)
                    received = b""
                    while b"\r\n\r\n" not in received:
                        chunk = held.recv(65536)
                        if not chunk:
                            break
                        received += chunk
                    self.assertTrue(received.startswith(b"HTTP/1.1 207 "), received[:80])
                    # The answer has begun and is being held; the mailbox and
                    # the control endpoint still answer meanwhile.
                    with socket.create_connection(("127.0.0.1", self.port), timeout=8) as other:
                        other.sendall(b"GET /_control HTTP/1.1\r\nhost: x\r\n"
                                      b"Connection: close\r\n\r\n")
                        reply = b""
                        while True:
                            chunk = other.recv(65536)
                            if not chunk:
                                break
                            reply += chunk
                    self.assertTrue(reply.startswith(b"HTTP/1.1 200 "), reply[:80])
                    self.assertIn("hm:inbox", self.urls())
                    held.settimeout(0.5)
                    with self.assertRaises(socket.timeout):
                        while held.recv(65536):
                            pass

    def test_drop_mid_body_sends_less_than_announced(self):
        request = self.raw_logon()
        self.control({"faults": {"drop_mid_body": {"methods": ["PROPFIND"]}}})
        reply = raw_exchange(self.port, request)
        head, _, body = reply.partition(b"\r\n\r\n")
        announced = int(re.search(rb"Content-Length: (\d+)", head).group(1))
        self.assertGreater(announced, 0)
        self.assertLess(len(body), announced)

    def test_body_shaping_faults(self):
        self.control({"faults": {"omit_props": {"props": ["hm:sendmsg"], "count": 1}}})
        values = self.urls()
        self.assertNotIn("hm:sendmsg", values)
        self.assertIn("hm:msgfolderroot", values)
        self.assertIn("hm:sendmsg", self.urls())

        self.control({"faults": {"override_props": {"values": {"D:getcontentlength": "abc"}}}})
        sizes = [v["D:getcontentlength"] for _, v in self.listing(self.urls()["hm:inbox"])]
        self.assertEqual(sizes, ["abc"] * 4)
        self.control({"faults": {"override_props": None}})

        self.control({"faults": {"no_responses": {"count": 1}}})
        answer, data = self.logon()
        self.assertEqual((answer.status, props_of(data)), (207, []))

        urls = self.urls()
        self.control({"faults": {"empty_message": {}, "delay": {"seconds": 0.2, "where": "body"}}})
        answer, data = self.client.request("GET", urls["hm:inbox"][len(self.base):] + "01-welcome")
        self.assertEqual((answer.status, data), (200, b""))
        self.control({"faults": {"empty_message": None}})
        answer, data = self.client.request("GET", urls["hm:inbox"][len(self.base):] + "01-welcome")
        self.assertTrue(data.startswith(b"From: Mail Team"))

        self.control({"faults": {"status": {"code": 401, "reason": "Bad Password",
                                            "methods": ["PROPFIND"], "count": 1}}})
        answer, _ = self.logon()
        self.assertEqual((answer.status, answer.reason), (401, "Bad Password"))

    def test_control_rejects_bad_orders(self):
        self.assertEqual(self.control({"faults": {"no_such_fault": {}}})[0], 400)
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        conn.request("POST", "/_control", "{not json")
        self.assertEqual(conn.getresponse().status, 400)
        conn.close()


class FaultSwitchTest(unittest.TestCase):
    def test_count_methods_and_paths_limit_a_switch(self):
        switches = faults.FaultSwitches()
        switches.set("redirect", {"count": 2, "methods": ["get"], "paths": ["/inbox/"]})
        self.assertIsNone(switches.take("redirect", "POST", "/x/inbox/1"))
        self.assertIsNone(switches.take("redirect", "GET", "/x/sent/1"))
        self.assertIsNotNone(switches.take("redirect", "GET", "/x/inbox/1"))
        self.assertIsNotNone(switches.take("redirect", "GET", "/x/inbox/2"))
        self.assertIsNone(switches.take("redirect", "GET", "/x/inbox/3"))
        switches.set("no_responses", {"paths": ["/folders/$"]})
        self.assertIsNone(switches.take("no_responses", "PROPFIND", "/p/folders/inbox/"))
        self.assertIsNotNone(switches.take("no_responses", "PROPFIND", "/p/folders/"))
        with self.assertRaises(KeyError):
            switches.set("nonsense", {})


class CommandLineTest(unittest.TestCase):
    def test_fault_flag_and_max_seconds(self):
        proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "standin.py"), "--max-seconds", "3",
             "--fault", 'status={"code": 503, "x_dav_error": "1000 down"}'],
            stdout=subprocess.PIPE, text=True)
        try:
            port = int(proc.stdout.readline().split()[1])
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            conn.request("PROPFIND", MSN, LOGON_BODY)
            answer = conn.getresponse()
            self.assertEqual(answer.status, 503)
            self.assertEqual(answer.getheader("X-Dav-Error"), "1000 down")
            conn.close()
            self.assertEqual(proc.wait(timeout=60), 0)  # stopped by itself
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()


if __name__ == "__main__":
    unittest.main()
