#pragma once
#include <string>

#include "mail/Rfc822Date.h"
#include "sessions/BasicWebmail.h"

// One message of an HTTPMail folder listing: the base fields the servers use
// plus the header summary the service hands along with them.
class THttpMailMsgInfo : public TBasicMailMsgInfo {
 public:
  std::string To;
  std::string From;
  std::string Subject;
  TDateTime Date = 0;  // 0 when the listing gave none
};

// The text after the last "/" of Url (the whole text when there is none).
std::string LastUrlSegment(const std::string &url);
