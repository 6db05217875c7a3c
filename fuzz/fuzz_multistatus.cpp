// The 207 answers of the webmail service, read by every reader the HTTPMail
// session uses.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sessions/MultistatusReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const TStringList body = SplitLines(std::string_view(reinterpret_cast<const char *>(data), size));
  THttpMailDirectoryList folders;
  ReadFolderListing(body, folders);
  TBasicMailMsgInfoList messages;
  std::string problem;
  const TListingResult result = ReadMessageListing(body, messages, problem);
  if (result == TListingResult::BadSize && messages.Count() != 0) __builtin_trap();
  const TLogonFolders logon = ReadLogonFolders(body);
  if (logon.Inbox.size() > size) __builtin_trap();
  return 0;
}
