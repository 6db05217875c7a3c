#pragma once
// Readers of the service's 207 (multistatus) answers. The answers are read
// with the forgiving tag tokenizer rather than an XML parser: the service's
// XML is not always well formed, and only a handful of leaf elements matter.
#include <optional>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"
#include "sessions/BasicWebmail.h"
#include "sessions/HttpMailDirectory.h"

// The text of the first element of each wanted name (names ignore case),
// absent when the element is missing or never closed.
using TElementTexts = std::vector<std::optional<std::string>>;

// Texts of the wanted elements inside each complete "D:response" element, in
// order of the answer.
std::vector<TElementTexts> ReadResponses(const TStringList &body,
                                         const std::vector<std::string> &wanted);
// Texts of the first wanted elements anywhere in the body.
TElementTexts ReadFirstElements(const TStringList &body, const std::vector<std::string> &wanted);

// The folder URLs a logon answer carries; empty when the element is missing.
struct TLogonFolders {
  std::string MsgFolderRoot;
  std::string SendMsg;
  std::string Inbox;
  std::string DeletedItems;
};
TLogonFolders ReadLogonFolders(const TStringList &body);

// Appends one folder per response to List. True when at least one was made.
bool ReadFolderListing(const TStringList &body, THttpMailDirectoryList &list);

enum class TListingResult {
  Ok,          // messages added, or the folder is empty
  Unreadable,  // responses were there but no message came of them
  BadSize      // a message had a missing or non-numeric size; nothing was added
};
// Adds the messages of a folder listing (THttpMailMsgInfo entries) to List,
// dropping UIDLs already listed. All or nothing: a bad entry leaves List as
// it was, so a retried listing never hands the servers half a folder.
// Problem describes a BadSize entry.
TListingResult ReadMessageListing(const TStringList &body, TBasicMailMsgInfoList &list,
                                  std::string &problem);
