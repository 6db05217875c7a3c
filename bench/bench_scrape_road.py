"""The site road measured through the gateway's own ports: a POP3 mail check
of 10 messages (two with attachments) and one ESMTP send with an attachment,
with the program headless and the stand-in's HTTPMail half switched off.

    python3 bench/bench_scrape_road.py [--program build/app/brelvane] [--runs 3]

Reported per run: seconds per message, page loads per message (counted from
the stand-in's request log: pages answered 200 by the site, downloads and
redirects left out), and the lower bound set by the one-second quiet rule
(each page load waits at least one quiet second before it counts as loaded),
so the ratio seconds / (page loads x 1 s) is the figure to read. Also the
peak resident memory of the program alone and of the program with the
browser engine's processes, sampled every 50 ms during the check.
"""
import argparse
import json
import os
import poplib
import shutil
import smtplib
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
USER, PASSWORD = "bench@hotmail.com", "bench-pass"
MESSAGES = 10
QUIET_SECONDS = 1.0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_account(folder):
    """Ten messages: eight plain, two with a 64 KB binary attachment."""
    account = os.path.join(folder, USER)
    os.makedirs(os.path.join(account, "inbox"))
    with open(os.path.join(account, "account.json"), "w") as f:
        json.dump({"password": PASSWORD, "flags": {}}, f)
    for i in range(MESSAGES):
        if i in (3, 7):
            message = MIMEMultipart()
            message.attach(MIMEText("Message %d, with a file attached.\n" % i))
            message.attach(MIMEApplication(os.urandom(65536), Name="file%d.bin" % i))
        else:
            message = MIMEText("Message %d.\n" % i + "Some text on a line.\n" * 20)
        message["From"] = "Sender %d <sender%d@example.com>" % (i, i)
        message["To"] = USER
        message["Subject"] = "Bench message %d" % i
        message["Date"] = "Tue, 01 Dec 2026 10:%02d:00 +0000" % i
        with open(os.path.join(account, "inbox", "%02d-bench.eml" % i), "wb") as f:
            f.write(message.as_bytes())


def process_tree(pid):
    """The program and every process below it (the engine's helpers)."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            continue
    tree, todo = [], [pid]
    while todo:
        p = todo.pop()
        tree.append(p)
        todo.extend(children.get(p, []))
    return tree


def rss_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class MemorySampler(threading.Thread):
    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid = pid
        self.peak_program = 0
        self.peak_total = 0
        self.running = True

    def run(self):
        while self.running:
            tree = process_tree(self.pid)
            self.peak_program = max(self.peak_program, rss_kb(self.pid))
            self.peak_total = max(self.peak_total, sum(rss_kb(p) for p in tree))
            time.sleep(0.05)


class Standin:
    def __init__(self, accounts):
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "testing", "standin", "standin.py"),
             "--accounts", accounts, "--max-seconds", "1800", "--no-httpmail"],
            stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline().split()[1])
        self.base = "http://127.0.0.1:%d" % self.port

    def control(self, orders=None):
        data = json.dumps(orders).encode() if orders is not None else None
        request = urllib.request.Request(self.base + "/_control", data=data,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.load(answer)

    def page_loads(self):
        count = 0
        for r in self.control()["requests"]:
            path = r["path"].split("?", 1)[0]
            if r["status"] != 200 or path.startswith("/cgi-bin/saferd"):
                continue
            if path == "/" or path.startswith("/cgi-bin/"):
                count += 1
        return count

    def stop(self):
        self.process.kill()
        self.process.wait()


def one_run(program, standin, home):
    pop, smtp = free_port(), free_port()
    with open(os.path.join(home, "Settings.ini"), "w", newline="") as f:
        f.write("[Receiving]\r\nPopPort=%d\r\nMarkRead=0\r\nUnReadOnly=0\r\nNoDuplicates=0\r\n"
                "BulkMail=0\r\n[Sending]\r\nSmtpPort=%d\r\n" % (pop, smtp))
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1",
               QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking")
    gateway = subprocess.Popen([program, "--headless", "--home", home, "--service-base",
                                standin.base, "--listen", "127.0.0.1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                               env=env)
    try:
        for line in gateway.stdout:
            if "Application Started" in line:
                break
        threading.Thread(target=lambda: [None for _ in gateway.stdout], daemon=True).start()
        standin.control({"reload": True, "clear_requests": True, "forget_nonces": True})
        sampler = MemorySampler(gateway.pid)
        sampler.start()

        figures = {}
        start = time.monotonic()
        client = poplib.POP3("127.0.0.1", pop, timeout=300)
        client.user(USER)
        client.pass_(PASSWORD)
        logged_on = time.monotonic()
        logon_pages = standin.page_loads()
        count = len(client.uidl()[1])
        listed = time.monotonic()
        list_pages = standin.page_loads()
        for i in range(1, count + 1):
            client.retr(i)
        fetched = time.monotonic()
        fetch_pages = standin.page_loads()
        client.quit()
        if count != MESSAGES:
            raise RuntimeError("%d messages listed, %d expected" % (count, MESSAGES))
        figures["logon"] = (logged_on - start, logon_pages)
        figures["listing"] = (listed - logged_on, list_pages - logon_pages)
        figures["fetch"] = (fetched - listed, fetch_pages - list_pages)
        figures["check"] = (fetched - start, fetch_pages)
        figures["peak_program_mb"] = sampler.peak_program / 1024
        figures["peak_total_mb"] = sampler.peak_total / 1024

        # The connection's end puts the read flags back on the site; the send
        # starts after it, on the same pooled session.
        until = time.monotonic() + 120
        while time.monotonic() < until and any(
                m["read"] for m in standin.control()["accounts"][USER]["folders"]["inbox"]):
            time.sleep(0.2)
        standin.control({"clear_requests": True})
        message = MIMEMultipart()
        message["From"], message["To"], message["Subject"] = USER, "tester@msn.com", "bench send"
        message.attach(MIMEText("A file for you.\n"))
        message.attach(MIMEApplication(os.urandom(65536), Name="send.bin"))
        start = time.monotonic()
        with smtplib.SMTP("127.0.0.1", smtp, timeout=300) as sender:
            sender.login(USER, PASSWORD)
            sender.sendmail(USER, ["tester@msn.com"], message.as_bytes())
        figures["send"] = (time.monotonic() - start, standin.page_loads())
        sampler.running = False
        sampler.join()
        figures["peak_program_mb"] = max(figures["peak_program_mb"], sampler.peak_program / 1024)
        figures["peak_total_mb"] = max(figures["peak_total_mb"], sampler.peak_total / 1024)
        return figures
    finally:
        gateway.terminate()
        try:
            gateway.wait(30)
        except subprocess.TimeoutExpired:
            gateway.kill()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "app", "brelvane"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="brelvane-bench-scrape-")
    try:
        accounts = os.path.join(folder, "accounts")
        make_account(accounts)
        # The recipient of the send lives on the stand-in too.
        shutil.copytree(os.path.join(ROOT, "testing", "standin", "demo", "tester@msn.com"),
                        os.path.join(accounts, "tester@msn.com"))
        standin = Standin(accounts)
        try:
            print("%-8s %9s %7s %9s %9s %7s" % ("run/step", "seconds", "pages", "s/page",
                                              "bound s", "ratio"))
            for run in range(1, args.runs + 1):
                home = os.path.join(folder, "home%d" % run)
                os.makedirs(home)
                figures = one_run(args.program, standin, home)
                for step in ("logon", "listing", "fetch", "check", "send"):
                    seconds, pages = figures[step]
                    bound = pages * QUIET_SECONDS
                    print("%d/%-6s %9.2f %7d %9.2f %9.2f %7.2f" % (
                        run, step, seconds, pages, seconds / pages if pages else 0, bound,
                        seconds / bound if bound else 0))
                seconds, pages = figures["check"]
                print("%d/check: %.2f s per message, %.2f page loads per message; peak RSS "
                      "program %.0f MB, program + engine %.0f MB" % (
                          run, seconds / MESSAGES, pages / MESSAGES, figures["peak_program_mb"],
                          figures["peak_total_mb"]))
        finally:
            standin.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
