#include "sessions/MultistatusReader.h"

#include <memory>

#include "scraping/HTMLParser.h"
#include "sessions/HttpMailMsgInfo.h"

namespace {

// One pass over the tokens. Every wanted element that is open collects the
// text tokens it contains; the wanted list is short and fixed, so the work
// stays linear in the answer's size however deeply it nests.
class TElementCollector {
 public:
  explicit TElementCollector(const std::vector<std::string> &wanted) {
    for (const std::string &name : wanted) {
      FOpen.push_back(UpperCase(name));
      FClose.push_back("/" + FOpen.back());
    }
    Reset();
  }

  void Reset() {
    FTexts.assign(FOpen.size(), std::nullopt);
    FBuffers.assign(FOpen.size(), std::string());
    FState.assign(FOpen.size(), kUnseen);
  }

  void Take(const THTMLToken &token) {
    if (const THTMLText *text = token.AsText()) {
      for (size_t i = 0; i < FState.size(); ++i)
        if (FState[i] == kCollecting) FBuffers[i] += text->Text;
      return;
    }
    const std::string &name = token.AsTag()->Name;
    for (size_t i = 0; i < FState.size(); ++i) {
      if (FState[i] == kUnseen && name == FOpen[i]) {
        FState[i] = kCollecting;
      } else if (FState[i] == kCollecting && name == FClose[i]) {
        FState[i] = kDone;
        FTexts[i] = std::move(FBuffers[i]);
        FBuffers[i].clear();
      }
    }
  }

  TElementTexts Result() { return std::move(FTexts); }

 private:
  enum { kUnseen, kCollecting, kDone };
  std::vector<std::string> FOpen, FClose;
  std::vector<int> FState;
  std::vector<std::string> FBuffers;
  TElementTexts FTexts;
};

THTMLTokenList Tokenize(const TStringList &body) {
  THTMLParser parser;
  parser.Lines = body;
  parser.Parse();
  return std::move(parser.Tokens);
}

// Whole-text integer; blanks around the digits are tolerated as elsewhere.
bool ReadInteger(const std::string &text, int64_t &value) {
  const int64_t a = StrToInt64Def(text, 0);
  const int64_t b = StrToInt64Def(text, 1);
  if (a != b) return false;
  value = a;
  return true;
}

const std::string &TextOr(const std::optional<std::string> &text, const std::string &fallback) {
  return text ? *text : fallback;
}

}  // namespace

std::vector<TElementTexts> ReadResponses(const TStringList &body,
                                         const std::vector<std::string> &wanted) {
  std::vector<TElementTexts> responses;
  const THTMLTokenList tokens = Tokenize(body);
  TElementCollector collector(wanted);
  bool inside = false;
  for (const auto &token : tokens) {
    const THTMLTag *tag = token->AsTag();
    if (!inside) {
      if (tag && tag->Name == "D:RESPONSE") {
        inside = true;
        collector.Reset();
      }
      continue;
    }
    if (tag && tag->Name == "/D:RESPONSE") {
      responses.push_back(collector.Result());
      inside = false;
      continue;
    }
    collector.Take(*token);
  }
  return responses;
}

TElementTexts ReadFirstElements(const TStringList &body, const std::vector<std::string> &wanted) {
  const THTMLTokenList tokens = Tokenize(body);
  TElementCollector collector(wanted);
  for (const auto &token : tokens) collector.Take(*token);
  return collector.Result();
}

TLogonFolders ReadLogonFolders(const TStringList &body) {
  const TElementTexts texts =
      ReadFirstElements(body, {"hm:msgfolderroot", "hm:sendmsg", "hm:inbox", "hm:deleteditems"});
  const std::string none;
  return {TextOr(texts[0], none), TextOr(texts[1], none), TextOr(texts[2], none),
          TextOr(texts[3], none)};
}

bool ReadFolderListing(const TStringList &body, THttpMailDirectoryList &list) {
  const std::string none;
  int made = 0;
  for (const TElementTexts &r :
       ReadResponses(body, {"D:href", "D:isfolder", "hm:special", "D:hassubs", "hm:unreadcount",
                            "D:visiblecount"})) {
    auto folder = std::make_unique<THttpMailDirectory>();
    folder->Href = TextOr(r[0], none);
    folder->IsFolder = TextOr(r[1], none) != "0";
    folder->Special = TextOr(r[2], none);
    folder->HasSubs = TextOr(r[3], none) == "1";
    folder->UnreadCount = StrToIntDef(TextOr(r[4], none), 0);
    folder->VisibleCount = StrToIntDef(TextOr(r[5], none), 0);
    list.Add(std::move(folder));
    ++made;
  }
  return made > 0;
}

TListingResult ReadMessageListing(const TStringList &body, TBasicMailMsgInfoList &list,
                                  std::string &problem) {
  const std::string none;
  const std::vector<TElementTexts> responses = ReadResponses(
      body, {"D:href", "hm:read", "m:to", "m:from", "m:subject", "m:date", "D:getcontentlength"});
  std::vector<std::unique_ptr<THttpMailMsgInfo>> read;
  for (const TElementTexts &r : responses) {
    auto info = std::make_unique<THttpMailMsgInfo>();
    info->Url = TextOr(r[0], none);
    info->Uidl = LastUrlSegment(info->Url);
    info->IsRead = TextOr(r[1], none) != "0";
    info->To = TextOr(r[2], none);
    info->From = TextOr(r[3], none);
    info->Subject = TextOr(r[4], none);
    if (r[5] && !r[5]->empty()) {
      TDateTime date = 0;
      // A time that is not whole seconds leaves the day alone.
      ParseIsoDate(*r[5], date);
      info->Date = date;
    }
    // A size the servers cannot total would break every POP3 count, so such
    // an answer is refused as a whole rather than listed with a guess.
    int64_t size = 0;
    if (!r[6] || !ReadInteger(*r[6], size)) {
      problem = "Bad message size " + (r[6] ? "\"" + *r[6] + "\"" : std::string("(none)")) +
                " for " + (info->Url.empty() ? std::string("a message") : info->Url);
      return TListingResult::BadSize;
    }
    info->Size = size;
    read.push_back(std::move(info));
  }
  for (auto &info : read) list.Add(std::unique_ptr<TBasicMailMsgInfo>(info.release()));
  if (list.Count() > 0 || responses.empty()) return TListingResult::Ok;
  return TListingResult::Unreadable;
}
