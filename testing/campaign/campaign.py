#!/usr/bin/env python3
"""Load and crash campaigns against the built gateway and the stand-in service.

  campaign.py load  --program BIN [--sessions N | --duration S] [--concurrency C]
                    [--smtp-clients K]
  campaign.py crash --program BIN [--rounds R]
  campaign.py faults --program BIN

faults: every fault switch of the stand-in, turned on at each step of a
mail check (PASS, STAT, RETR, QUIT) and of a send (AUTH, the message text).
Every command must get a protocol reply; once the switch is off the same
connection must work again or have been closed cleanly; a message is gone
only after a QUIT answered +OK, and a send answered 250 reached the service.

load: POP3 and SMTP sessions (three POP3 to one SMTP), C at a time, against a
static mailbox; with --smtp-clients K, K of the C clients send only and the
others only fetch (50 and 20 at once: --concurrency 70 --smtp-clients 20); every command is timed. Reports p50/p99 per command and the
gateway's open descriptors and RSS at the start and at the end. Fails when a
session failed or the descriptors did not come back to the start.

crash: kill -9 the gateway at random points of a mail check (during RETR,
after DELE before QUIT, during the deletes after QUIT, during the settings
save at a stop), restarting it each round, with "no duplicates" on. Fails
when a message was deleted without a QUIT answered +OK, when a message whose
retrieval completed is offered again, or when Settings.ini or the download
record cannot be read.

Every port is chosen free at run time on loopback; both programs stop with
the campaign.
"""

import argparse
import configparser
import json
import os
import poplib
import random
import shutil
import signal
import smtplib
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
STANDIN = os.path.join(ROOT, "testing", "standin", "standin.py")
DEMO = os.path.join(ROOT, "testing", "standin", "demo")
USER, PASSWORD = "demo@hotmail.com", "demo-pass"
VERBOSE = bool(os.environ.get("CAMPAIGN_VERBOSE"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Standin:
    def __init__(self, folder, faults=(), max_seconds=3600):
        accounts = os.path.join(folder, "accounts")
        shutil.copytree(DEMO, accounts)
        args = [sys.executable, STANDIN, "--accounts", accounts, "--max-seconds", str(max_seconds)]
        for fault in faults:
            args += ["--fault", fault]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("PORT "):
            raise RuntimeError("stand-in did not start: %r" % line)
        self.base = "http://127.0.0.1:" + line[5:]

    def control(self, orders=None):
        data = None if orders is None else json.dumps(orders).encode()
        request = urllib.request.Request(self.base + "/_control", data=data,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.loads(answer.read() or b"{}")

    def inbox_subjects(self):
        accounts = self.control()["accounts"]
        for name, account in accounts.items():
            if name.lower() == USER:
                return {m.get("subject", "") for m in account["folders"].get("inbox", [])}
        raise RuntimeError("no inbox in the stand-in's state")

    def stop(self):
        self.process.kill()
        self.process.wait()


class Gateway:
    def __init__(self, program, home, base, settings):
        self.home = home
        os.makedirs(home, exist_ok=True)
        if settings is not None:
            with open(os.path.join(home, "Settings.ini"), "w", newline="") as f:
                f.write(settings)
        self.process = subprocess.Popen(
            [program, "--headless", "--home", home, "--service-base", base, "--listen",
             "127.0.0.1"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.output = []
        self.started = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()
        if not self.started.wait(30):
            self.kill()
            raise RuntimeError("gateway did not start")

    def _read(self):
        for line in self.process.stdout:
            self.output.append(line)
            if "Application Started" in line:
                self.started.set()

    def descriptors(self):
        return len(os.listdir("/proc/%d/fd" % self.process.pid))

    def rss_kb(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def terminate(self, timeout=30):
        self.process.terminate()
        return self.process.wait(timeout)


def settings_text(pop, smtp, no_dups):
    return ("[Receiving]\r\nPopPort=%d\r\nMarkRead=%d\r\nUnReadOnly=0\r\nNoDuplicates=%d\r\n"
            "[Sending]\r\nSmtpPort=%d\r\n" % (pop, int(no_dups), int(no_dups), smtp))


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


# ---- load -------------------------------------------------------------------

def pop_session(port, timed):
    def step(name, call):
        start = time.monotonic()
        result = call()
        timed.setdefault(name, []).append((time.monotonic() - start) * 1000)
        return result
    client = step("POP connect", lambda: poplib.POP3("127.0.0.1", port, timeout=120))
    step("USER", lambda: client.user(USER))
    step("PASS", lambda: client.pass_(PASSWORD))
    count, _ = step("STAT", client.stat)
    step("UIDL", client.uidl)
    if count:
        step("RETR", lambda: client.retr(1))
        step("TOP", lambda: client.top(1, 0))
    step("QUIT", client.quit)


def smtp_session(port, timed, number):
    def step(name, call):
        start = time.monotonic()
        result = call()
        timed.setdefault(name, []).append((time.monotonic() - start) * 1000)
        return result
    client = step("SMTP connect", lambda: smtplib.SMTP("127.0.0.1", port, timeout=120))
    step("EHLO", lambda: client.ehlo("campaign"))
    step("AUTH", lambda: client.login(USER, PASSWORD))
    text = ("From: %s\r\nTo: someone@example.com\r\nSubject: load %d\r\n\r\nbody %d\r\n"
            % (USER, number, number))
    step("send", lambda: client.sendmail(USER, ["someone@example.com"], text))
    step("QUIT", client.quit)


def run_load(args):
    folder = tempfile.mkdtemp(prefix="brelvane-load-")
    standin = Standin(folder, max_seconds=args.duration + 3600 if args.duration else 3600)
    pop, smtp = free_port(), free_port()
    gateway = Gateway(args.program, os.path.join(folder, "home"), standin.base,
                      settings_text(pop, smtp, False))
    timed, failures, done = {}, [], [0]
    lock = threading.Lock()
    try:
        # One of each first, so that the figures at the start include what a
        # first session sets up for good (pooled sessions, the record).
        pop_session(pop, {})
        smtp_session(smtp, {}, 0)
        time.sleep(1)
        fds_start, rss_start = gateway.descriptors(), gateway.rss_kb()
        until = time.monotonic() + args.duration if args.duration else None
        counter = iter(range(1, 10 ** 9))

        def worker(kind):
            while True:
                with lock:
                    number = next(counter)
                    if until is None and number > args.sessions:
                        return
                    if until is not None and time.monotonic() >= until:
                        return
                local = {}
                try:
                    if kind == "smtp" or (kind is None and number % 4 == 0):
                        smtp_session(smtp, local, number)
                    else:
                        pop_session(pop, local)
                except Exception as e:  # every failure is reported
                    with lock:
                        failures.append("session %d: %r" % (number, e))
                with lock:
                    done[0] += 1
                    for name, values in local.items():
                        timed.setdefault(name, []).extend(values)

        if args.smtp_clients is None:
            kinds = [None] * args.concurrency
        else:
            smtp_clients = min(args.smtp_clients, args.concurrency)
            kinds = ["smtp"] * smtp_clients + ["pop"] * (args.concurrency - smtp_clients)
        threads = [threading.Thread(target=worker, args=(kind,)) for kind in kinds]
        started = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        elapsed = time.monotonic() - started
        # Connections end after their last reply; give the loop a moment.
        settle = time.monotonic() + 15
        while gateway.descriptors() > fds_start and time.monotonic() < settle:
            time.sleep(0.2)
        fds_end, rss_end = gateway.descriptors(), gateway.rss_kb()
        print("sessions %d in %.1f s, %d at once, failed %d" %
              (done[0], elapsed, args.concurrency, len(failures)))
        for name in sorted(timed):
            values = timed[name]
            print("  %-12s n=%-6d p50 %8.1f ms  p99 %8.1f ms" %
                  (name, len(values), statistics.median(values), percentile(values, 0.99)))
        print("descriptors %d -> %d, RSS %d KB -> %d KB" % (fds_start, fds_end, rss_start, rss_end))
        for failure in failures[:10]:
            print("  " + failure)
        status = gateway.terminate()
        ok = not failures and fds_end <= fds_start and status == 0
        if status != 0:
            print("gateway exit status %d" % status)
        return 0 if ok else 1
    finally:
        gateway.kill()
        standin.stop()
        shutil.rmtree(folder, ignore_errors=True)


# ---- crash ------------------------------------------------------------------

def check_files(home):
    problems = []
    parser = configparser.ConfigParser(strict=False, interpolation=None)
    try:
        with open(os.path.join(home, "Settings.ini"), encoding="latin-1") as f:
            parser.read_string(f.read())
        if not parser.has_section("Receiving"):
            problems.append("Settings.ini lost its [Receiving] section")
    except Exception as e:
        problems.append("Settings.ini unreadable: %r" % e)
    record = os.path.join(home, "DownloadRecord.sqlite")
    if os.path.exists(record):
        try:
            with sqlite3.connect(record) as db:
                if db.execute("PRAGMA integrity_check").fetchone()[0] != "ok":
                    problems.append("download record fails its integrity check")
                db.execute("SELECT name FROM sqlite_master").fetchall()
        except Exception as e:
            problems.append("download record unreadable: %r" % e)
    return problems


def crash_round(gateway, pop, kill_after, state):
    """One mail check, cut by kill -9 after kill_after seconds (None: no kill)."""
    session = {"quit_ok": False, "dele": set(), "retrieved": set(), "listed": set()}
    killer = None
    if kill_after is not None:
        killer = threading.Timer(kill_after, lambda: os.kill(gateway.process.pid,
                                                             signal.SIGKILL))
        killer.start()
    try:
        client = poplib.POP3("127.0.0.1", pop, timeout=30)
        client.user(USER)
        client.pass_(PASSWORD)
        _, listing, _ = client.uidl()
        numbers = {}
        for entry in listing:
            number, uid = entry.decode().split(" ", 1)
            numbers[uid] = int(number)
            session["listed"].add(uid)
        for uid, number in sorted(numbers.items(), key=lambda item: item[1]):
            _, lines, _ = client.retr(number)
            subject = next((l.decode("latin-1")[9:] for l in lines
                            if l.lower().startswith(b"subject: ")), "")
            state["subjects"][uid] = subject
            session["retrieved"].add(uid)
            if random.random() < 0.5:
                client.dele(number)
                session["dele"].add(uid)
        client.quit()
        session["quit_ok"] = True
    except Exception:
        pass
    if killer:
        killer.join()
    return session


def run_crash(args):
    folder = tempfile.mkdtemp(prefix="brelvane-crash-")
    # Slow enough that a kill lands inside the steps, not only between them.
    standin = Standin(folder, faults=[
        'delay={"seconds": 0.15, "methods": ["GET", "MOVE", "PROPPATCH", "BDELETE", "DELETE"]}'])
    pop, smtp = free_port(), free_port()
    home = os.path.join(folder, "home")
    state = {"subjects": {}}
    retrieved_before, deleted_ok, problems = set(), set(), []
    counts = {"killed": 0, "clean": 0, "stopped": 0}
    try:
        settings = settings_text(pop, smtp, True)
        for round_number in range(args.rounds):
            for i in range(3):
                subject = "crash %d-%d" % (round_number, i)
                standin.control({"add_message": {
                    "account": USER, "folder": "inbox", "id": "c%d-%d" % (round_number, i),
                    "raw": "From: a@example.com\r\nSubject: %s\r\n\r\n%s\r\n" % (subject, "x" * 200)}})
            gateway = Gateway(args.program, home, standin.base, settings)
            settings = None  # from now on the gateway's own file
            mode = random.choice(["kill", "kill", "kill", "stop"])
            if mode == "kill":
                session = crash_round(gateway, pop, random.uniform(0.05, 2.5), state)
            else:
                session = crash_round(gateway, pop, None, state)
            if gateway.process.poll() is None:
                if mode == "stop":
                    # A stop during or after the deletes, then kill -9 while
                    # it writes the settings and the log.
                    time.sleep(random.uniform(0.0, 1.5))
                    gateway.process.terminate()
                    time.sleep(random.uniform(0.0, 0.05))
                gateway.kill()
            counts["killed" if mode == "kill" else "stopped"] += 1
            again = set(session["listed"]) & retrieved_before
            if again:
                problems.append("round %d: offered again after a completed retrieval: %s" %
                                (round_number, sorted(again)))
            retrieved_before |= session["retrieved"]
            if session["quit_ok"]:
                deleted_ok |= {state["subjects"].get(uid) for uid in session["dele"]}
            problems += ["round %d: %s" % (round_number, p) for p in check_files(home)]
        present = standin.inbox_subjects()
        gone = {s for s in state["subjects"].values() if s and s not in present}
        lost = gone - deleted_ok
        if lost:
            problems.append("deleted without a QUIT answered +OK: %s" % sorted(lost))
        print("rounds %d (killed during a check %d, killed during a stop %d); "
              "messages retrieved %d, deleted %d; problems %d" %
              (args.rounds, counts["killed"], counts["stopped"], len(retrieved_before), len(gone),
               len(problems)))
        for problem in problems[:20]:
            print("  " + problem)
        return 1 if problems else 0
    finally:
        standin.stop()
        shutil.rmtree(folder, ignore_errors=True)


# ---- faults -----------------------------------------------------------------

FAULTS = [
    ("delay", {"seconds": 1}),
    ("status 500", {"code": 500, "reason": "Internal Error"}),
    ("status 401", {"code": 401, "reason": "Bad Password"}),
    ("status 402", {"code": 402, "reason": "Payment Required"}),
    ("status 503", {"code": 503, "x_dav_error": "2000 user"}),
    ("service_down", {}),
    ("redirect", {}),
    ("continue", {}),
    ("no_content_length", {"hold_seconds": 1}),
    ("drop_mid_body", {}),
    ("send_limit", {}),
    ("omit_props", {"props": ["hm:sendmsg"]}),
    ("override_props", {"values": {"D:getcontentlength": "abc"}}),
    ("no_responses", {}),
    ("empty_message", {}),
]


class LineClient:
    """A plain line client: replies are read raw, so that no reply of any
    shape is lost to a library's own checks."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=90)
        self.buffer = b""

    def line(self):
        while b"\r\n" not in self.buffer:
            data = self.sock.recv(65536)
            if not data:
                raise EOFError("closed")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line.decode("latin-1")

    def say(self, text):
        self.sock.sendall(text.encode("latin-1") + b"\r\n")
        return self.line()

    def body(self):
        lines = []
        while True:
            line = self.line()
            if line == ".":
                return lines
            lines.append(line)

    def closed_cleanly(self):
        self.sock.settimeout(10)
        try:
            return self.sock.recv(1) == b""
        except OSError:
            return False

    def close(self):
        self.sock.close()


def fault_pop(standin, pop, name, setting, problems):
    """One POP3 check with the switch on at each step in turn."""
    label = name.split()[0]

    def on():
        standin.control({"faults": {label: setting}})

    def off():
        standin.control({"clear_faults": True})

    def check(step, reply, good=("+OK", "-ERR")):
        if VERBOSE:
            print("  %-18s %-5s %s" % (name, step, reply[:100]))
        if not reply.startswith(good):
            problems.append("%s at %s: reply %r" % (name, step, reply))

    c = LineClient(pop)
    try:
        check("banner", c.line())
        c.say("USER " + USER)
        on()
        reply = c.say("PASS " + PASSWORD)
        off()
        check("PASS", reply)
        if not reply.startswith("+OK Logged in"):
            # Rejected, or logged in to a service that was not reachable:
            # a fresh connection must log on once the fault is gone.
            c.say("QUIT")
            c.close()
            c = LineClient(pop)
            c.line()
            c.say("USER " + USER)
            reply = c.say("PASS " + PASSWORD)
            if not reply.startswith("+OK Logged in"):
                problems.append("%s: no log-on after the fault went: %r" % (name, reply))
                return
        on()
        reply = c.say("STAT")
        off()
        check("STAT", reply)
        if not reply.startswith("+OK"):
            reply = c.say("STAT")
            if not reply.startswith("+OK"):
                problems.append("%s: STAT still failing after the fault: %r" % (name, reply))
                return
        if reply.split()[1] == "0":
            # This round's fresh messages are on the service and were never
            # handed on: a listing without them hides mail.
            # (An answer without entries is what "no_responses" sends: it
            # does say the mailbox is empty.)
            fresh = any(subject.startswith("fault round %s " % name)
                        for subject in standin.inbox_subjects())
            if fresh and name != "no_responses":
                problems.append("%s: STAT found no message in a mailbox that holds some" % name)
                if VERBOSE:
                    for r in standin.control()["requests"][-4:]:
                        print("    ", r["method"], r["path"], r["status"], r.get("account"))
            c.say("QUIT")
            return
        on()
        reply = c.say("RETR 1")
        if reply.startswith("+OK"):
            c.body()
        off()
        check("RETR", reply)
        reply = c.say("RETR 1")
        if reply.startswith("+OK"):
            c.body()
        else:
            problems.append("%s: RETR still failing after the fault: %r" % (name, reply))
        check("DELE", c.say("DELE 1"))
        on()
        reply = c.say("QUIT")
        check("QUIT", reply, ("+OK",))
        if not c.closed_cleanly():
            problems.append("%s: connection not closed after QUIT" % name)
        time.sleep(1.5)  # the deletes run after the answer
        off()
    except (EOFError, OSError) as e:
        problems.append("%s: connection failed: %r" % (name, e))
    finally:
        off()
        c.close()


def fault_smtp(standin, smtp, name, setting, number, problems):
    label = name.split()[0]
    import base64

    def on():
        standin.control({"faults": {label: setting}})

    def off():
        standin.control({"clear_faults": True})

    c = LineClient(smtp)
    try:
        c.line()
        c.sock.sendall(b"EHLO campaign\r\n")
        while not c.line().startswith("250 "):
            pass
        c.say("AUTH LOGIN " + base64.b64encode(USER.encode()).decode())
        on()
        reply = c.say(base64.b64encode(PASSWORD.encode()).decode())
        off()
        if VERBOSE:
            print("  %-18s AUTH  %s" % (name, reply[:100]))
        if not reply[:3].isdigit():
            problems.append("%s at AUTH: reply %r" % (name, reply))
        if not reply.startswith("235"):
            c.say("AUTH LOGIN " + base64.b64encode(USER.encode()).decode())
            reply = c.say(base64.b64encode(PASSWORD.encode()).decode())
            if not reply.startswith("235"):
                problems.append("%s: no log-on after the fault went: %r" % (name, reply))
                return
        subject = "fault send %d" % number
        c.say("MAIL FROM:<%s>" % USER)
        c.say("RCPT TO:<someone@example.com>")
        c.say("DATA")
        on()
        reply = c.say("Subject: %s\r\n\r\nbody\r\n." % subject)
        off()
        sent = any(subject in item.get("data", "") for item in standin.control()["sent"])
        if VERBOSE:
            print("  %-18s DATA  %s (service has it: %s)" % (name, reply[:100], sent))
        if reply.startswith("250") and not sent:
            problems.append("%s: send answered 250 but the service has no such message" % name)
        if not reply[:3].isdigit():
            problems.append("%s at DATA: reply %r" % (name, reply))
        if not c.say("NOOP").startswith("250"):
            problems.append("%s: connection unusable after the send" % name)
        c.say("QUIT")
    except (EOFError, OSError) as e:
        problems.append("%s: connection failed: %r" % (name, e))
    finally:
        off()
        c.close()


def run_faults(args):
    folder = tempfile.mkdtemp(prefix="brelvane-faults-")
    standin = Standin(folder)
    pop, smtp = free_port(), free_port()
    gateway = Gateway(args.program, os.path.join(folder, "home"), standin.base,
                      settings_text(pop, smtp, False))
    problems = []
    try:
        for number, (name, setting) in enumerate(FAULTS):
            # Fresh messages for each switch: what an earlier round deleted
            # (or failed to delete) stays out of the listing, by design.
            for i in range(2):
                standin.control({"add_message": {
                    "account": USER, "folder": "inbox", "id": "f%d-%d" % (number, i),
                    "raw": "From: a@example.com\r\nSubject: fault round %s %d\r\n\r\nbody\r\n"
                           % (name, i)}})
            fault_pop(standin, pop, name, setting, problems)
            fault_smtp(standin, smtp, name, setting, number, problems)
            if gateway.process.poll() is not None:
                problems.append("%s: the gateway ended (status %s)" % (name, gateway.process.poll()))
                break
            # The service forgets its log-ons, as a restarted service would.
            standin.control({"forget_nonces": True})
        if VERBOSE:
            with open(os.environ["CAMPAIGN_VERBOSE"], "w") as f:
                f.write("".join(gateway.output))
        print("fault switches %d, each at PASS, STAT, RETR, QUIT, AUTH and the message text; "
              "problems %d" % (len(FAULTS), len(problems)))
        for problem in problems[:30]:
            print("  " + problem)
        status = gateway.terminate()
        if status != 0:
            problems.append("gateway exit status %d" % status)
        return 1 if problems else 0
    finally:
        gateway.kill()
        standin.stop()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=["load", "crash", "faults"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--sessions", type=int, default=200)
    parser.add_argument("--duration", type=float, default=0, help="seconds; overrides --sessions")
    parser.add_argument("--concurrency", type=int, default=20)
    parser.add_argument("--smtp-clients", type=int, default=None,
                        help="load: this many of the clients only send, the rest only fetch")
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    random.seed(args.seed)
    return {"load": run_load, "crash": run_crash, "faults": run_faults}[args.mode](args)


if __name__ == "__main__":
    sys.exit(main())
