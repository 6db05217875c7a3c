"""Fault switches: named misbehaviours that a test turns on from the command
line or through the control endpoint, optionally limited to some methods or
paths and to a number of uses."""

import threading

# name -> what it does; the README lists them with their options.
KNOWN = {
    "delay": "wait 'seconds' (default 1) before answering, or in the middle of the body "
             "when 'where' is 'body'",
    "status": "answer 'code' with 'reason' (and 'x_dav_error', 'www_authenticate') "
              "instead of the real answer",
    "bad_password": "a wrong password is answered '401 Bad Password' instead of "
                    "'401 Unauthorized'",
    "service_down": "every request is answered 503 with X-Dav-Error '1000 ...'",
    "redirect": "answer 302 with a Location back to the same URL ('location': false "
                "leaves the Location out)",
    "continue": "send '100 Continue' before the real answer",
    "no_content_length": "207 answers carry no Content-Length; the connection is held "
                         "open 'hold_seconds' (default 2) after the body, then closed",
    "drop_mid_body": "send the headers and half the body, then drop the connection",
    "send_limit": "POST to the send URL is answered 412",
    "omit_props": "leave the elements named in 'props' (e.g. \"hm:sendmsg\") out of 207 "
                  "answers",
    "override_props": "give the elements named in 'values' the texts given there, e.g. "
                      "{\"D:getcontentlength\": \"abc\"}",
    "no_responses": "207 answers hold no D:response element",
    "empty_message": "GET of a message answers 200 with no body",
    # The web site's own switches; they never bend HTTPMail answers.
    "httpmail_disabled": "every HTTPMail request is answered 404; only the web site works",
    "slow_pages": "wait 'seconds' (default 1) before answering a site page",
    "script_navigation": "site pages carry a script that replaces the page after "
                         "'interval_ms' (default 300), again and again while the switch lasts",
    "no_msg_table": "site listings come without the 'MsgTable' table",
    "site_down": "site requests are dropped unanswered, or answered 'status' with an error page",
    "no_error_icon": "the site's wrong-password page comes without the error picture",
    "logout_link": "the site's home page shows the sign-out link to a visitor not signed in",
    "positional_headers": "message pages show their header table without label texts",
    "rte_literal": "the compose page's rich-text editor takes the body as text",
}


def path_matches(pattern, path):
    """A substring of the path; a final "$" ties it to the path's end, so that
    ".../folders/$" means the folder root and not the folders below it."""
    path = path.split("?", 1)[0]
    if pattern.endswith("$"):
        return path.endswith(pattern[:-1])
    return pattern in path


class FaultSwitches:
    def __init__(self):
        self.lock = threading.Lock()
        self.active = {}

    def set(self, name, setting=None):
        if name not in KNOWN:
            raise KeyError("unknown fault %r" % name)
        with self.lock:
            if setting is None or setting is False or (
                    isinstance(setting, dict) and "count" in setting and int(setting["count"]) <= 0):
                self.active.pop(name, None)
            else:
                self.active[name] = dict(setting) if isinstance(setting, dict) else {}

    def clear(self):
        with self.lock:
            self.active.clear()

    def take(self, name, method="", path=""):
        """The fault's options when it applies to this request (using up one
        of its 'count'), else None."""
        with self.lock:
            setting = self.active.get(name)
            if setting is None:
                return None
            methods = setting.get("methods")
            if methods and method.upper() not in [m.upper() for m in methods]:
                return None
            paths = setting.get("paths")
            if paths and not any(path_matches(p, path) for p in paths):
                return None
            if "count" in setting:
                left = int(setting["count"]) - 1
                if left <= 0:
                    del self.active[name]
                else:
                    setting["count"] = left
            # Never empty, so that a caller may test the answer for truth.
            return dict(setting, fault=name)

    def snapshot(self):
        with self.lock:
            return {k: dict(v) for k, v in self.active.items()}
