#include "sessions/HttpMailTemplates.h"

const char *const kHttpMailUserAgent =
    "User-Agent: Outlook Express/5.0 (MSIE 5.0; Windows NT; DigExt)";

namespace {

void AddProps(THttpRequest &request, std::initializer_list<const char *> props) {
  request.Add("\t<D:prop>");
  for (const char *prop : props) request.Add(std::string("\t\t<") + prop + "/>");
  request.Add("\t</D:prop>");
  request.Add("</D:propfind>");
}

}  // namespace

void FillFolderListRequest(THttpRequest &request, const std::string &url) {
  request.Clear();
  request.Add("PROPFIND blah0 HTTP/1.1");
  request.Add("Depth: 0");
  request.Add("Content-Type: text/xml");
  request.Add("Brief: t");
  request.Add(kHttpMailUserAgent);
  request.Add("Host: blah1");
  request.Add("Content-Length: 343");
  request.Add("Connection: Keep-Alive");
  request.Add("");
  request.Add("<?xml version=\"1.0\"?>");
  request.Add("<D:propfind xmlns:D=\"DAV:\" xmlns:hm=\"urn:schemas:httpmail:\">");
  AddProps(request, {"D:isfolder", "D:displayname", "hm:special", "D:hassubs", "D:nosubs",
                     "hm:unreadcount", "D:visiblecount", "hm:special"});
  request.SetUrl(url);
}

void FillMessageListRequest(THttpRequest &request, const std::string &url) {
  request.Clear();
  request.Add("PROPFIND blah2 HTTP/1.1");
  request.Add("Depth: 1,noroot");
  request.Add("Content-Type: text/xml");
  request.Add("Brief: t");
  request.Add(kHttpMailUserAgent);
  request.Add("Host: blah3");
  request.Add("Content-Length: 265");
  request.Add("Connection: Keep-Alive");
  request.Add("");
  request.Add("<?xml version=\"1.0\"?>");
  request.Add(
      "<D:propfind xmlns:D=\"DAV:\" xmlns:hm=\"urn:schemas:httpmail:\" "
      "xmlns:m=\"urn:schemas:mailheader:\">");
  AddProps(request, {"D:isfolder", "hm:read", "m:hasattachment", "m:to", "m:from", "m:subject",
                     "m:date", "D:getcontentlength"});
  request.SetUrl(url);
}

void FillGetMsgRequest(THttpRequest &request, const std::string &url, const std::string &host) {
  request.Clear();
  request.Add("GET blah4 HTTP/1.1");
  request.Add("Accept: message/rfc822, */*");
  request.Add("Translate: f");
  request.Add("Host: " + host);
  request.Add(kHttpMailUserAgent);
  request.Add("Connection: Keep-Alive");
  request.Add("");
  request.SetUrl(url);
}

void FillMarkReadRequest(THttpRequest &request, const std::string &url) {
  request.Clear();
  request.Add("PROPPATCH blah5 HTTP/1.1");
  request.Add("Accept: */*");
  request.Add("accept-language: en-us");
  request.Add(kHttpMailUserAgent);
  request.Add("content-type: text/xml");
  request.Add("Accept-Encoding: gzip, deflate");
  request.Add("Host: blah6");
  request.Add("Content-Length: 158");
  request.Add("Connection: Keep-Alive");
  request.Add("");
  request.Add(
      "<?xml version='1.0'?><D:propertyupdate xmlns:D='DAV:' "
      "xmlns:hm='urn:schemas:httpmail:'><D:set><D:prop><hm:read>1</hm:read></D:prop></D:set></"
      "D:propertyupdate>");
  request.SetUrl(url);
}

void FillMoveRequest(THttpRequest &request, const std::string &url,
                     const std::string &destination) {
  request.Clear();
  request.Add("MOVE blah7 HTTP/1.1");
  request.Add("Destination: " + destination);
  request.Add("Translate: f");
  request.Add("Allow-Rename: t");
  request.Add(kHttpMailUserAgent);
  request.Add("Host: blah8");
  request.Add("Content-Length: 0");
  request.Add("Connection: Keep-Alive");
  request.Add("");
  request.SetUrl(url);
}

void FillSendRequest(THttpRequest &request, const std::string &url, bool translate, bool saveInSent,
                     const std::string &mailFrom, const TStringList &recipients,
                     const TStringList &lines) {
  request.Clear();
  request.Add("POST blah9 HTTP/1.1");
  request.Add(translate ? "Translate: t" : "Translate: f");
  request.Add("Content-Type: message/rfc821");
  request.Add(saveInSent ? "SAVEINSENT: t" : "SAVEINSENT: f");
  request.Add(kHttpMailUserAgent);
  request.Add("Host: blah10");
  request.Add("Content-Length: blah");
  request.Add("Connection: Keep-Alive");
  request.Add("");
  request.Add("MAIL FROM:" + mailFrom);
  for (const std::string &recipient : recipients)
    if (!recipient.empty()) request.Add("RCPT TO:" + recipient);
  request.Add("");
  TStringList &all = request.Lines();
  all.insert(all.end(), lines.begin(), lines.end());
  request.SetUrl(url);
}
