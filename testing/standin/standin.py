#!/usr/bin/env python3
"""Stand-in for the webmail service, for tests and the demo.

Serves on 127.0.0.1 at a port chosen at start, printed as the first line of
standard output ("PORT 45123"), until killed or until --max-seconds pass.
See README.md for the accounts folder, the URLs and the fault switches."""

import argparse
import contextlib
import json
import os
import select
import socket
import sys
import threading
import time
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

import digest
import faults
import httpmail
import mailstore
import website

HERE = os.path.dirname(os.path.abspath(__file__))
CONTROL_PATH = "/_control"
MAX_REQUEST_BODY = 64 * 1024 * 1024  # larger bodies are refused, not buffered
REQUEST_LOG_LIMIT = 2000
LOGGED_BODY_LIMIT = 64 * 1024  # a long demo run must not keep every attachment


class StandinServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, store, switches, base_url=None, verbose=False):
        super().__init__(("127.0.0.1", 0), Handler)
        self.store = store
        self.faults = switches
        self.digest = digest.DigestAuthority()
        self.base_url = base_url or "http://127.0.0.1:%d" % self.server_address[1]
        self.verbose = verbose
        self.sessions = {}  # cookie value -> account name
        self.requests = []
        self.log_lock = threading.Lock()
        # Each route answers the paths it claims, the first claim winning:
        # the HTTPMail endpoints lie under /cgi-bin/ too.
        self.site = website.WebSiteRoute()
        self.routes = [httpmail.HttpMailRoute(), self.site]

    @property
    def port(self):
        return self.server_address[1]

    def record(self, entry):
        with self.log_lock:
            self.requests.append(entry)
            del self.requests[:-REQUEST_LOG_LIMIT]

    def state(self):
        snapshot = self.store.snapshot()
        with self.log_lock:
            snapshot["requests"] = list(self.requests)
        snapshot["faults"] = self.faults.snapshot()
        snapshot["base_url"] = self.base_url
        return snapshot


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "StandinMail/1.0"

    # ---- request entry ----------------------------------------------------
    def handle_any(self):
        self.status_sent = 0
        self.logged = False
        self.account_name = ""
        self.delay_in_body = None
        self.held_answers = None
        self.set_cookie = ""
        self.body = b""
        length_text = self.headers.get("Content-Length", "0").strip() or "0"
        try:
            length = int(length_text)
        except ValueError:
            length = -1
        if length < 0 or length > MAX_REQUEST_BODY:
            self.close_connection = True
            self.answer(400, "Bad Request", [], b"bad Content-Length\r\n")
            return
        if length:
            self.body = self.rfile.read(length)
        path = self.path.split("?", 1)[0]
        try:
            if path == CONTROL_PATH or path.startswith(CONTROL_PATH + "/"):
                self.handle_control()
            else:
                for route in self.server.routes:
                    if route.matches(path):
                        route.handle(self, path)
                        break
                else:
                    self.answer(404, "Not Found", [("Content-Type", "text/plain")],
                                b"no such resource\r\n")
        except (ConnectionError, socket.timeout):
            self.close_connection = True
        if not self.logged:
            self.log_request_entry()

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any
    do_PROPFIND = do_PROPPATCH = do_MOVE = do_COPY = do_OPTIONS = handle_any

    def log_request_entry(self):
        self.logged = True
        headers = {}
        for key, value in self.headers.items():
            key = key.lower()
            headers[key] = headers[key] + ", " + value if key in headers else value
        self.server.record({
            "time": time.time(),
            "method": self.command,
            "path": self.path,
            "status": self.status_sent,
            "account": self.account_name,
            "headers": headers,
            "body": self.body[:LOGGED_BODY_LIMIT].decode("latin-1"),
        })

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("standin: " + (fmt % args) + "\n")

    # ---- answers ------------------------------------------------------------
    @contextlib.contextmanager
    def holding(self, lock):
        """Runs the block under Lock and writes the answers it gives only
        once the lock is released: writing may wait (a slow reader, the delay
        and no-Content-Length faults), and no other request, the control
        endpoint included, may wait with it."""
        if self.held_answers is not None:
            with lock:
                yield
            return
        self.held_answers = []
        try:
            with lock:
                yield
        finally:
            held, self.held_answers = self.held_answers, None
            for args, kwargs in held:
                self.answer(*args, **kwargs)

    def answer(self, status, reason, headers, body=b"", bend=True):
        """Writes one answer, bending it as the active faults ask (unless
        not Bend: the control endpoint always answers plainly)."""
        if self.held_answers is not None:
            self.held_answers.append(((status, reason, headers, body), {"bend": bend}))
            return
        method, path = self.command or "", self.path or ""
        switches = self.server.faults
        out = []
        if bend and switches.take("continue", method, path):
            out.append(b"HTTP/1.1 100 Continue\r\n\r\n")
        no_length = bend and status == 207 and switches.take("no_content_length", method, path)
        drop = bend and bool(body) and switches.take("drop_mid_body", method, path)
        if not reason:
            try:
                reason = HTTPStatus(status).phrase
            except ValueError:
                reason = "Status"
        lines = ["HTTP/1.1 %d %s" % (status, reason),
                 "Date: " + self.date_time_string(),
                 "Server: " + self.server_version]
        for name, value in headers:
            lines.append("%s: %s" % (name, value))
        if no_length:
            lines.append("Connection: close")
        else:
            lines.append("Content-Length: %d" % len(body))
            if self.close_connection:
                lines.append("Connection: close")
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        self.status_sent = status
        # Recorded before the answer leaves, so that a client which has its
        # answer always finds its request in the log.
        if not self.logged:
            self.log_request_entry()
        self.wfile.write(b"".join(out) + head)
        if drop:
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            self.drop_connection()
            return
        if self.delay_in_body is not None and body:
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            time.sleep(self.delay_in_body)
            self.wfile.write(body[len(body) // 2:])
        else:
            self.wfile.write(body)
        self.wfile.flush()
        if no_length:
            # The reader takes the body to end when nothing more is waiting;
            # hold the line open a while so that it finds out that way.
            hold = float(no_length.get("hold_seconds", 2))
            try:
                select.select([self.connection], [], [], hold)
            except (OSError, ValueError):
                pass
            self.drop_connection()

    def drop_connection(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def answer_json(self, status, value):
        body = (json.dumps(value, indent=1) + "\n").encode("utf-8")
        self.answer(status, "", [("Content-Type", "application/json")], body, bend=False)

    # ---- control endpoint ---------------------------------------------------
    def handle_control(self):
        path = self.path.split("?", 1)[0]
        if path == CONTROL_PATH + "/part" and self.command == "GET":
            self.answer_part()
            return
        if self.command == "GET":
            self.answer_json(200, self.server.state())
            return
        if self.command != "POST":
            self.answer_json(405, {"error": "GET or POST"})
            return
        try:
            orders = json.loads(self.body.decode("utf-8") or "{}")
            if not isinstance(orders, dict):
                raise ValueError("expected a JSON object")
            apply_orders(self.server, orders)
        except (ValueError, KeyError, TypeError) as e:
            self.answer_json(400, {"error": str(e)})
            return
        self.answer_json(200, {"ok": True, "faults": self.server.faults.snapshot()})


    def answer_part(self):
        query = parse_qs(urlsplit(self.path).query)
        try:
            data = website.part_bytes(self.server.store, query.get("account", [""])[0],
                                      query.get("msg", [""])[0],
                                      int(query.get("mimepart", ["-1"])[0]))
        except ValueError:
            data = None
        if data is None:
            self.answer_json(404, {"error": "no such part"})
            return
        self.answer(200, "", [("Content-Type", "application/octet-stream")], data, bend=False)


def apply_orders(server, orders):
    if orders.get("reload") and server.store.seed_folder:
        server.store.load(server.store.seed_folder)
    if orders.get("clear_faults"):
        server.faults.clear()
    if orders.get("clear_requests"):
        with server.log_lock:
            server.requests.clear()
    if orders.get("forget_nonces"):
        server.digest.forget_nonces()
        server.sessions.clear()
        server.site.forget_sessions()
    for name, setting in (orders.get("faults") or {}).items():
        server.faults.set(name, setting)
    account = orders.get("add_account")
    if account:
        server.store.add_account(account["name"], account.get("password", ""),
                                 account.get("flags"),
                                 account.get("page_size", mailstore.DEFAULT_PAGE_SIZE))
    paging = orders.get("page_size")
    if paging:
        target = server.store.account(paging["account"])
        if target is None:
            raise KeyError("no account %r" % paging["account"])
        target.page_size = max(1, int(paging["size"]))
    message = orders.get("add_message")
    if message:
        target = server.store.account(message["account"])
        if target is None:
            raise KeyError("no account %r" % message["account"])
        with server.store.lock:
            target.add(message.get("folder", "inbox"), message["raw"].encode("latin-1"),
                       bool(message.get("read", False)), message.get("id", ""))


def parse_fault(text):
    name, _, setting = text.partition("=")
    return name, (json.loads(setting) if setting else {})


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--accounts", default=os.path.join(HERE, "demo"),
                        help="folder with one sub-folder per account (default: demo)")
    parser.add_argument("--base-url", default=None,
                        help="address written into answers (default http://127.0.0.1:PORT)")
    parser.add_argument("--max-seconds", type=float, default=0,
                        help="stop by itself after this many seconds (0: never)")
    parser.add_argument("--fault", action="append", default=[], metavar="NAME[=JSON]",
                        help="turn a fault switch on at start (repeatable)")
    parser.add_argument("--no-httpmail", action="store_true",
                        help="answer every HTTPMail request 404 (only the web site works)")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    args = parser.parse_args(argv)

    switches = faults.FaultSwitches()
    if args.no_httpmail:
        switches.set("httpmail_disabled", {})
    for text in args.fault:
        name, setting = parse_fault(text)
        switches.set(name, setting)
    server = StandinServer(mailstore.MailStore(args.accounts), switches, args.base_url,
                           args.verbose)
    if args.max_seconds > 0:
        timer = threading.Timer(args.max_seconds, os._exit, [0])
        timer.daemon = True
        timer.start()
    sys.stdout.write("PORT %d\n" % server.port)
    sys.stdout.flush()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
