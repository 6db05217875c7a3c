"""Server side of HTTP Digest authentication (MD5, qop=auth).

The gateway computes the second hash over "PROPFIND:" + uri whatever the
request's method, so that form is accepted beside the standard one (the
actual method), which other clients use."""

import hashlib
import re
import secrets
import threading

REALM = "stand-in mail service"
PARAM = re.compile(r'\s*([A-Za-z0-9_-]+)\s*=\s*("((?:[^"\\]|\\.)*)"|[^,\s]*)\s*(?:,|$)')


def md5_hex(text):
    return hashlib.md5(text.encode("latin-1", "replace")).hexdigest()


def parse_authorization(value):
    """The name=value items of a Digest Authorization header, or None."""
    if not value or not value.strip().lower().startswith("digest "):
        return None
    rest = value.strip()[7:]
    items = {}
    pos = 0
    while pos < len(rest):
        m = PARAM.match(rest, pos)
        if not m or m.end() == pos:
            return None
        quoted = m.group(3)
        items[m.group(1).lower()] = quoted if quoted is not None else m.group(2)
        pos = m.end()
    return items


class DigestAuthority:
    def __init__(self):
        self.lock = threading.Lock()
        self.nonces = set()
        self.counts = {}  # (nonce, cnonce) -> last nc, to refuse replays

    def challenge(self):
        nonce = secrets.token_hex(16)
        with self.lock:
            self.nonces.add(nonce)
        # realm first: the gateway reads the piece named "Digest realm".
        return 'Digest realm="%s", nonce="%s", qop="auth", algorithm=MD5' % (REALM, nonce)

    def forget_nonces(self):
        with self.lock:
            self.nonces.clear()
            self.counts.clear()

    def check(self, items, method, path, password):
        """'' when the items prove the password for this request, else why not."""
        for key in ("username", "realm", "nonce", "uri", "response"):
            if key not in items:
                return "missing " + key
        if items["realm"] != REALM:
            return "wrong realm"
        if items["uri"] != path:
            return "uri does not match the request"
        nonce = items["nonce"]
        with self.lock:
            if nonce not in self.nonces:
                return "unknown nonce"
        ha1 = md5_hex("%s:%s:%s" % (items["username"], REALM, password))
        qop = items.get("qop")
        candidates = []
        for verb in dict.fromkeys([method, "PROPFIND"]):
            ha2 = md5_hex("%s:%s" % (verb, items["uri"]))
            if qop:
                candidates.append(md5_hex(":".join(
                    [ha1, nonce, items.get("nc", ""), items.get("cnonce", ""), qop, ha2])))
            else:
                candidates.append(md5_hex("%s:%s:%s" % (ha1, nonce, ha2)))
        if items["response"].lower() not in candidates:
            return "wrong response"
        if qop:
            if qop != "auth":
                return "unsupported qop"
            try:
                nc = int(items.get("nc", ""), 16)
            except ValueError:
                return "bad nc"
            key = (nonce, items.get("cnonce", ""))
            with self.lock:
                if nc <= self.counts.get(key, 0):
                    return "nonce count replayed"
                self.counts[key] = nc
        return ""
