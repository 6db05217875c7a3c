#pragma once
// The request templates of the HTTPMail session. Each one empties the
// request, writes the lines the service expects and points it at Url; the
// exchange fixes up Host, Content-Length and Cookie before sending.
#include <string>

#include "foundation/StrUtil.h"
#include "http/HttpRequest.h"

extern const char *const kHttpMailUserAgent;

void FillFolderListRequest(THttpRequest &request, const std::string &url);
void FillMessageListRequest(THttpRequest &request, const std::string &url);
// Host is what the request carried before (or the default mail host); the
// message URL then sets the real one.
void FillGetMsgRequest(THttpRequest &request, const std::string &url, const std::string &host);
void FillMarkReadRequest(THttpRequest &request, const std::string &url);
// Destination is the target folder URL (with its trailing "/") followed by
// the file name of the message.
void FillMoveRequest(THttpRequest &request, const std::string &url, const std::string &destination);
void FillSendRequest(THttpRequest &request, const std::string &url, bool translate, bool saveInSent,
                     const std::string &mailFrom, const TStringList &recipients,
                     const TStringList &lines);
