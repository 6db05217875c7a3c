"""The web site's pages as HTML text. The page layout (table ids, class
names, link titles, form and field names, script functions) is what the
gateway's scraper reads; README.md lists it."""

import html
import secrets

INBOX_ID = "00000000-0000-0000-0000-000000000001"
JUNK_ID = "00000000-0000-0000-0000-000000000005"


def esc(text):
    return html.escape(text or "", quote=True)


def fresh():
    """A cache-breaking value: no two addresses the site hands out in a row
    are the same."""
    return str(secrets.randbelow(1000000000))


def size_text(size):
    if size < 1024:
        return "%d bytes" % size
    return "%d KB" % ((size + 1023) // 1024)


# Every function a page or the scraper calls; kept in <head> so that none of
# its text shows in the body's HTML.
SCRIPT = """
var A = "%(a)s";
function G(u) { location.href = u; }
function HMFO(id) {
  location.href = "/cgi-bin/HoTMaiL?curmbox=" + id + "&a=" + A + "&n=" + Math.floor(Math.random() * 1000000000);
}
function SetAndSubmit(formName, action) {
  var f = document.forms[formName];
  if (!f) return false;
  f.elements["_HMaction"].value = action;
  f.submit();
  return true;
}
function Subm(action, x, y) { SetAndSubmit("hotmail", action); }
function PI(cmd, x, y, box) {
  var f = document.forms["hotmail"];
  if (!f) return;
  f.elements["tobox"].value = box;
  SetAndSubmit("hotmail", cmd);
}
function Mail(action) { SetAndSubmit("composeform", action); }
function DoAttach(action) { SetAndSubmit("doattach", action); }
function newAttachWin(u) { window.open(u, "attachment"); }
function OL(u) { window.open(u, "outside"); }
"""

STYLE = """
body { font-family: Verdana, Arial, sans-serif; font-size: 12px; margin: 0; }
#TopBar { background: #003399; color: #ffffff; width: 100%; }
#TopBar a { color: #ffffff; margin-right: 12px; }
#FolderList { float: left; width: 160px; }
.unread { font-weight: bold; }
.tbb { cursor: pointer; text-decoration: underline; padding: 0 8px; }
.err { color: #cc0000; }
"""


def page(title, body, script_vars=None, hop_script=""):
    script = SCRIPT % (script_vars or {"a": ""})
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>%s</title>\n"
            "<style>%s</style>\n<script>%s</script>%s\n</head>\n<body>\n%s\n</body></html>\n"
            % (esc(title), STYLE, script, hop_script, body)).encode("utf-8")


class Context:
    """What every page of one request needs: the base address, the session's
    folder token and account, and the account's folders (id, name, shown
    name, unread count) in list order."""

    def __init__(self, base, token="", account="", folders=(), hop_script=""):
        self.base = base
        self.a = token
        self.account = account
        self.folders = list(folders)
        self.hop_script = hop_script

    def gfx(self, name):
        return "%s/gfx/%s" % (self.base, name)

    def folder_url(self, folder_id, page_number=0):
        url = "/cgi-bin/HoTMaiL?curmbox=%s&a=%s" % (folder_id, self.a)
        if page_number:
            url += "&page=%d" % page_number
        return url

    def logout_url(self):
        return "/logout.srf?lc=1033&ct=%s&a=%s" % (fresh(), self.a)

    def render(self, title, body):
        return page(title, body, {"a": self.a}, self.hop_script)


def login_form(ctx):
    return """<form name="f1" method="post" action="/cgi-bin/dologin">
<table id="SignIn">
<tr><td>E-mail address:</td><td><input type="text" name="login" size="25" value="" maxlength="64"></td></tr>
<tr><td>Password:</td><td><input type="password" name="passwd" size="25" value="" maxlength="16"></td></tr>
<tr><td colspan="2">
<input type="radio" name="LoginOptions" value="1" id="lo1"> <label for="lo1">Sign me in automatically.</label><br>
<input type="radio" name="LoginOptions" value="2" id="lo2" checked> <label for="lo2">Save my e-mail address.</label><br>
<input type="radio" name="LoginOptions" value="3" id="lo3"> <label for="lo3">Always ask for my e-mail address and password.</label>
</td></tr>
<tr><td></td><td><input type="submit" name="sign_in" value="Sign In"></td></tr>
</table>
</form>"""


def ad_frame(ctx, where):
    return ('<iframe src="%s/ads/ADSAdClient31.dll?GetAd&amp;PG=%s" width="468" height="60" '
            'frameborder="0" scrolling="no"></iframe>' % (ctx.base, esc(where)))


def home_page(ctx, signed_in_as="", error="", error_icon=True, show_logout=False, notice=""):
    parts = ['<table id="Brand"><tr><td><img src="%s" alt="Mail" width="120" height="40"></td>'
             '<td>%s</td></tr></table>' % (ctx.gfx("logo.gif"), ad_frame(ctx, "HMHOME"))]
    if signed_in_as or show_logout:
        parts.append('<p id="SignedIn">%s<a href="%s">Sign Out</a>%s</p>' % (
            "Signed in as %s. " % esc(signed_in_as) if signed_in_as else "",
            esc(ctx.logout_url()),
            ' | <a href="%s" title="Go to my Inbox">My Messages</a>' % esc(
                ctx.folder_url(INBOX_ID) + "&n=" + fresh()) if signed_in_as else ""))
    if error:
        icon = ('<img src="%s" alt="Error" width="16" height="16"> ' % ctx.gfx("icon_err.gif")
                if error_icon else "")
        parts.append('<p class="err" id="LoginError">%s%s</p>' % (icon, esc(error)))
    if notice:
        parts.append('<p id="Notice">%s</p>' % esc(notice))
    parts.append("<h2>Sign in</h2>")
    parts.append(login_form(ctx))
    return page("Sign In", "\n".join(parts), {"a": ctx.a}, ctx.hop_script)


def signed_out_page(ctx):
    body = ('<h2>You have signed out</h2><p>Thank you for using the mail service.</p>'
            '<p><a href="/">Home</a></p>\n' + login_form(ctx))
    return page("Signed Out", body, {"a": ""}, ctx.hop_script)


def error_page(ctx, status_text):
    return page("Error", "<h2>%s</h2><p>Please try again later.</p>" % esc(status_text))


def chrome(ctx):
    compose = "/cgi-bin/compose?curmbox=%s&a=%s" % (INBOX_ID, ctx.a)
    top = ('<table id="TopBar"><tr><td><img src="%s" alt="Mail" width="120" height="40"></td>'
           '<td>%s</td><td>'
           '<a href="%s">Home</a>'
           '<a href="%s">Mail</a>'
           '<a href="#" onclick="G(\'%s\');return false">Write</a>'
           '<a href="%s">Sign Out</a>'
           '</td></tr></table>' % (
               ctx.gfx("logo.gif"), esc(ctx.account),
               esc("/cgi-bin/hmhome?curmbox=%s&a=%s&n=%s" % (INBOX_ID, ctx.a, fresh())),
               esc(ctx.folder_url(INBOX_ID) + "&n=" + fresh()),
               esc(compose), esc(ctx.logout_url())))
    links = []
    for folder_id, _, shown, unread in ctx.folders:
        label = shown + (" (%d)" % unread if unread else "")
        links.append('<div><a href="javascript:HMFO(\'%s\')" title="%s">%s</a></div>'
                     % (folder_id, esc(shown), esc(label)))
    return top + '\n<div id="FolderList">%s</div>\n' % "".join(links)


def today_page(ctx, unread):
    body = chrome(ctx) + (
        '<div id="Today"><h2>Welcome, %s</h2>'
        '<p>You have %d unread message%s in your Inbox.</p>'
        '<p><a href="%s" title="Go to my Inbox">My Messages</a></p>%s</div>' % (
            esc(ctx.account), unread, "" if unread == 1 else "s",
            esc(ctx.folder_url(INBOX_ID) + "&n=" + fresh()), ad_frame(ctx, "HMTODAY")))
    return ctx.render("Today", body)


def listing_page(ctx, folder_id, shown, rows, page_number, pages, start, table_id="MsgTable"):
    """rows: (message, is_read) of this page; start: the index of the first."""
    out = [chrome(ctx), '<div id="Listing"><h2>%s &mdash; %s</h2>' % (esc(shown),
                                                                      esc(ctx.account))]
    out.append('<form name="hotmail" method="post" action="/cgi-bin/HoTMaiL">')
    out.append('<input type="hidden" name="_HMaction" value="">'
               '<input type="hidden" name="curmbox" value="%s">'
               '<input type="hidden" name="a" value="%s">'
               '<input type="hidden" name="page" value="%d">'
               '<input type="hidden" name="tobox" value="">' % (folder_id, esc(ctx.a), page_number))
    out.append('<table id="Toolbar"><tr>'
               '<td><a href="javascript:Subm(\'delete\',0,1)">Delete</a></td>'
               '<td class="tbb" onclick="Subm(\'markunread\',0,1)">Mark As Unread</td>'
               '<td class="tbb" onclick="Subm(\'markread\',0,1)">Mark As Read</td>'
               '</tr></table>')
    cells = ['<td onclick="PI(\'MoveTo\',0,1,\'%s\')">%s</td>' % (fid, esc(name_shown))
             for fid, _, name_shown, _ in ctx.folders if fid != folder_id]
    out.append('<table id="FldrTable"><tr><td>Move To:</td></tr><tr>%s</tr></table>'
               % "".join(cells))
    out.append('<table id="%s" class="MsgList" cellspacing="0">' % table_id)
    out.append('<tr><th></th><th><a href="%s">From</a></th><th>Subject</th><th>Date</th>'
               '<th>Size</th></tr>' % esc(ctx.folder_url(folder_id) + "&sort=From"))
    for offset, (msg, from_text, subject, date_text) in enumerate(rows):
        url = "/cgi-bin/getmsg?curmbox=%s&a=%s&msg=%s&start=%d&len=%d" % (
            folder_id, ctx.a, msg.id, start + offset, msg.size)
        if msg.read:
            url += "&msgread=1"
        out.append('<tr class="%s"><td><input type="checkbox" name="msgsel" value="%s"></td>'
                   '<td><a href="%s">%s</a></td><td>%s</td><td>%s</td><td>%s</td></tr>' % (
                       "read" if msg.read else "unread", esc(msg.id), esc(url),
                       esc(from_text) or "(unknown sender)", esc(subject) or "(no subject)",
                       esc(date_text), size_text(msg.size)))
    if not rows:
        out.append('<tr><td colspan="5">There are no messages in this folder.</td></tr>')
    out.append("</table></form>")
    nav = ["Page %d of %d " % (page_number, pages)]
    if page_number > 1:
        nav.append('<a href="%s" title="Previous Page">Previous</a> '
                   % esc(ctx.folder_url(folder_id, page_number - 1)))
    for k in range(1, pages + 1):
        if k != page_number:
            nav.append('<a href="%s">%d</a> ' % (esc(ctx.folder_url(folder_id, k)), k))
    if page_number < pages:
        nav.append('<a href="%s" title="Next Page">Next</a>'
                   % esc(ctx.folder_url(folder_id, page_number + 1)))
    out.append('<div id="Pages">%s</div>' % "".join(nav))
    out.append(ad_frame(ctx, "HMLIST") + "</div>")
    return ctx.render(shown, "\n".join(out))


def not_found_page(ctx, text):
    return ctx.render("Not Found", chrome(ctx) + "<p class=\"err\">%s</p>" % esc(text))


def header_table(ctx, rows, positional):
    """rows: (label, value) in the order the page shows them."""
    out = ['<table class="TH" id="MsgHeaders">']
    for number, (label, value) in enumerate(rows):
        if positional:
            first = '<img src="%s" alt="" width="16" height="16">&nbsp;:' % ctx.gfx(
                "hdr_%d.gif" % number)
        else:
            first = "%s&nbsp;:" % esc(label)
        out.append("<tr><td>%s</td><td>%s</td></tr>" % (first, esc(value)))
    out.append("</table>")
    return "".join(out)


def message_page(ctx, folder_id, msg, header_rows, downloads, body_html, positional):
    """downloads: (part number, name, size)."""
    out = [chrome(ctx), '<div id="Message">']
    back = ctx.folder_url(folder_id) + "&n=" + fresh()
    out.append('<table id="MsgToolbar"><tr><td><a href="%s">Back to folder</a></td>'
               '<td><a href="%s">Reply</a></td></tr></table>' % (
                   esc(back), esc("/cgi-bin/compose?curmbox=%s&a=%s&reply=%s"
                                  % (folder_id, ctx.a, msg.id))))
    out.append(header_table(ctx, header_rows, positional))
    if downloads:
        out.append('<table id="AttTable" class="Att"><tr><td>'
                   '<a href="/cgi-bin/help?topic=attach">Attachments</a></td></tr>')
        for number, name, size in downloads:
            url = "/cgi-bin/getmsg?curmbox=%s&a=%s&msg=%s&mimepart=%d&attach=1" % (
                folder_id, ctx.a, msg.id, number)
            out.append('<tr><td><a href="%s">%s</a> (%s)</td></tr>'
                       % (esc(url), esc(name), size_text(size)))
        out.append("</table>")
    out.append('<table bgcolor="#ffffff" id="MsgContainer" width="100%%"><tr><td>'
               '<table id="MsgBody"><tr><td>\n%s\n</td></tr></table>'
               '</td></tr></table></div>' % body_html)
    return ctx.render("Message", "\n".join(out))


def saferd_url(ctx, folder_id, msg_id, number):
    return "%s/cgi-bin/saferd?curmbox=%s&a=%s&msg=%s&mimepart=%d" % (
        ctx.base, folder_id, ctx.a, msg_id, number)


def attachment_page(ctx, folder_id, msg, number, name, size):
    download = saferd_url(ctx, folder_id, msg.id, number)
    back = "/cgi-bin/getmsg?curmbox=%s&a=%s&msg=%s&len=%d" % (folder_id, ctx.a, msg.id,
                                                              msg.size)
    body = chrome(ctx) + (
        '<table id="ScanTable"><tr><td colspan="2"><b>Scanned for viruses</b>: no virus was '
        'found in this attachment.</td></tr>'
        '<tr><td>%s</td><td>%s</td></tr>'
        '<tr><td><a href="javascript:newAttachWin(\'%s\')">Download File</a></td>'
        '<td><a href="%s">Back to Message</a></td></tr></table>' % (
            esc(name), size_text(size), esc(download), esc(back)))
    return ctx.render("Attachment", body)


def compose_page(ctx, draft, error=""):
    out = [chrome(ctx), '<div id="Compose">']
    if error:
        out.append('<p class="err">%s</p>' % esc(error))
    out.append('<form name="composeform" method="post" action="/cgi-bin/compose">')
    out.append('<input type="hidden" name="_HMaction" value="">'
               '<input type="hidden" name="curmbox" value="%s">'
               '<input type="hidden" name="a" value="%s">'
               '<input type="hidden" name="draft" value="%s">' % (
                   INBOX_ID, esc(ctx.a), esc(draft.id)))
    out.append('<table id="ComposeHeaders">')
    for label, name in (("To", "to"), ("Cc", "cc"), ("Bcc", "bcc"), ("Subject", "subject")):
        out.append('<tr><td>%s:</td><td><input type="text" name="%s" size="70" value="%s">'
                   '</td></tr>' % (label, name, esc(draft.fields.get(name, ""))))
    names = ", ".join("%s (%s)" % (n, size_text(len(d))) for n, _, d in draft.attachments)
    out.append('<tr><td><a href="javascript:Mail(\'AttachFile\')">Attachments</a></td>'
               '<td id="AttachedFiles">%s</td></tr>' % esc(names or "none"))
    out.append('<tr><td></td><td><input type="checkbox" name="outgoing" value="on"%s id="copy">'
               ' <label for="copy">Save a copy in Sent</label></td></tr>'
               % (" checked" if draft.save_copy else ""))
    switch = ('<a href="javascript:Mail(\'RTEOFF\')">Rich-Text Editor Off</a>' if draft.rich
              else '<a href="javascript:Mail(\'RTEON\')">Rich-Text Editor On</a>')
    out.append('<tr><td></td><td id="EditorSwitch">%s</td></tr></table>' % switch)
    out.append('<textarea name="body" rows="20" cols="76">%s</textarea>'
               % html.escape(draft.body, quote=False))
    out.append('<p><input type="button" name="SendButton" value="Send" onclick="Mail(\'Send\')">'
               ' <input type="button" name="CancelButton" value="Cancel" '
               'onclick="G(\'%s\')"></p>' % esc(ctx.folder_url(INBOX_ID)))
    out.append("</form></div>")
    return ctx.render("Compose", "\n".join(out))


def attach_page(ctx, draft):
    files = "".join("<tr><td>%s</td><td>%s</td></tr>" % (esc(n), size_text(len(d)))
                    for n, _, d in draft.attachments)
    body = chrome(ctx) + (
        '<div id="Attach"><h2>Attach a file</h2>'
        '<form name="doattach" method="post" action="/cgi-bin/attach" '
        'enctype="multipart/form-data">'
        '<input type="hidden" name="_HMaction" value="">'
        '<input type="hidden" name="curmbox" value="%s">'
        '<input type="hidden" name="a" value="%s">'
        '<input type="hidden" name="draft" value="%s">'
        '<p>File: <input type="file" name="attfile" size="40"></p>'
        '<p><a href="javascript:DoAttach(\'AttachOther\')">Attach</a> '
        '<a href="javascript:DoAttach(\'OK\')">OK</a> '
        '<a href="javascript:DoAttach(\'Cancel\')">Cancel</a></p>'
        '</form><table id="AttachedList"><tr><th>Attached</th><th>Size</th></tr>%s</table>'
        '</div>' % (INBOX_ID, esc(ctx.a), esc(draft.id), files))
    return ctx.render("Attach", body)


def sent_page(ctx, recipients):
    body = chrome(ctx) + ('<div id="Sent"><h2>Your message has been sent.</h2>'
                          '<p>To: %s</p><p><a href="%s">Back to Inbox</a></p></div>' % (
                              esc(", ".join(recipients)),
                              esc(ctx.folder_url(INBOX_ID) + "&n=" + fresh())))
    return ctx.render("Sent", body)


def ad_page():
    return page("Advertisement", '<p>Advertisement</p>')


# The smallest GIF (one transparent pixel): every picture of the site.
PIXEL_GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00"
             b"\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")
