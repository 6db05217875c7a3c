#include "scraping/SiteRules.h"

#include <cctype>

#include "foundation/QuorUtil.h"
#include "scraping/HtmlEntities.h"

namespace {

// The flag sets the site's patterns are written for.
constexpr unsigned kAnyCaseGreedy = pf_Caseless | pf_DotAll | pf_Greedy;  // 13
constexpr unsigned kAnyCaseLazy = pf_Caseless | pf_DotAll;                // 5
constexpr unsigned kExactLazy = pf_DotAll;                                // 4
constexpr unsigned kShortestWhole = pf_DotAll | pf_WholeMatchOnly;        // 36

// Each rewrite rule is applied to its first match again and again; a rule
// whose replacement matches once more must still come to an end.
constexpr int kMaxRewritesPerRule = 1000;

std::string DropSurroundingQuotes(std::string text) {
  if (!text.empty() && text.front() == '"') {
    text.erase(0, 1);
    if (!text.empty()) text.pop_back();
  }
  return text;
}

bool Contains(const std::string &text, const std::string &part) {
  return !part.empty() && WildcardPos(part, text) > 0;
}

std::string StripAngles(std::string text) {
  text = Trim(text);
  if (text.size() >= 2 && text.front() == '<' && text.back() == '>')
    text = Trim(text.substr(1, text.size() - 2));
  return text;
}

}  // namespace

bool ScriptOfLink(const std::string &href, std::string &script) {
  const std::string text = Trim(href);
  const size_t at = FindText(text, "java");
  if (at != 0 && at != 1) return false;
  script = DropSurroundingQuotes(text);
  return true;
}

std::string ScriptOfHandler(const std::string &onclick) {
  return DropSurroundingQuotes(Trim(onclick));
}

std::string SiteBaseOf(const std::string &address) {
  std::string base = PatternSearch(".*//.*/", address, kExactLazy);
  if (!base.empty()) base.pop_back();
  return base;
}

std::string ListedMessageAddress(const std::string &href, const std::string &siteBase) {
  const std::string part = PatternSearch("/cgi-bin/getmsg?[^<> '\")]*", href, kAnyCaseGreedy);
  return part.empty() ? std::string() : siteBase + part;
}

int ListingPageNumber(const std::string &address) {
  const std::string match = PatternSearch("page=\\d+", address, kAnyCaseGreedy);
  if (match.size() <= 5) return 1;
  return StrToIntDef(match.substr(5), 1);
}

// A plain scan rather than a pattern per page number: every number would
// otherwise be a pattern of its own to compile.
bool HasPageLink(const std::string &html, int page) {
  const std::string number = std::to_string(page);
  for (size_t at = FindText(html, "page="); at != std::string::npos;
       at = FindText(html, "page=", at + 1)) {
    const size_t digits = at + 5;
    if (html.compare(digits, number.size(), number) != 0) continue;
    const size_t after = digits + number.size();
    if (after >= html.size() || !std::isdigit((unsigned char)html[after])) return true;
  }
  return false;
}

bool IsSiteFurniture(const std::string &tableHtml, const std::string &imageServerPrefix,
                     const std::string &advertHost) {
  return Contains(tableHtml, imageServerPrefix) || Contains(tableHtml, advertHost) ||
         Contains(tableHtml, "crs_918.gif") ||
         !PatternSearch("http://[^<> '\")]*logout\\?[^<> '\")]*", tableHtml, kAnyCaseGreedy)
              .empty();
}

bool RewriteLinks(TStringList &lines) {
  std::string text = JoinLines(lines, "\r\n");
  const std::string original = text;
  auto applyRule = [&text](const std::string &pattern, auto replacementOf) {
    for (int round = 0; round < kMaxRewritesPerRule; ++round) {
      const std::string match = PatternSearch(pattern, text, kAnyCaseGreedy);
      if (match.empty()) return;
      const std::string replacement = replacementOf(match);
      if (replacement == match) return;
      text = ReplaceAll(text, match, replacement);
    }
  };
  applyRule("href=[^<> )]*compose[^<> '\")]*", [](const std::string &match) {
    const std::string to = PatternSearch(";to=[^<> )&]*", match, kAnyCaseGreedy);
    return "href=\"mailto:" + (to.size() > 4 ? to.substr(4) : std::string()) + "\"";
  });
  applyRule("href=[^<> )]*\\([^<> )]*http:[^<> ]*\\)", [](const std::string &match) {
    return "href=\"" + PatternSearch("http://[^<> '\")]*", match, kAnyCaseGreedy) + "\"";
  });
  applyRule("href=[^<> )]*\\([^<> )]*ftp:[^<> ]*\\)", [](const std::string &match) {
    return "href=\"" + PatternSearch("ftp://[^<> '\")]*", match, kAnyCaseGreedy) + "\"";
  });
  applyRule("http:[^<> ]*mimepart=\\d[^<> \"]*", [](const std::string &match) {
    return PatternSearch("mimepart=\\d*", match, kAnyCaseGreedy);
  });
  if (text == original) return false;
  lines = SplitLines(text);
  return true;
}

std::string DownloadAddressInCell(const std::string &cellHtml) {
  const std::string call = PatternSearch("newAttachWin\\([^>]*\\)", cellHtml, kAnyCaseLazy);
  if (call.empty()) return std::string();
  std::string address = PatternSearch("http://[^<> '\")]*", call, kAnyCaseGreedy);
  DecodeEntities(address);
  return address;
}

std::string DownloadAddressInBody(const std::string &bodyHtml) {
  std::string address =
      PatternSearch("http://[^<> '\")]*saferd[^<> '\")]*", bodyHtml, kAnyCaseGreedy);
  DecodeEntities(address);
  return address;
}

std::string AttachmentLocation(const std::string &href, const std::string &name) {
  const std::string part = PatternSearch("mimepart=\\d*", href, kAnyCaseGreedy);
  return part.empty() ? name : part;
}

std::string FileExtensionOf(const std::string &name) {
  std::string stem = name;
  while (!stem.empty() && stem.back() == '.') stem.pop_back();
  const size_t dot = stem.rfind('.');
  if (dot == std::string::npos) return std::string();
  return stem.substr(dot);
}

bool HeaderFromLabelledRows(const std::vector<THeaderRow> &rows, THeaderEdits &edits) {
  static const struct {
    const char *Label;
    const char *Field;
  } kLabels[] = {{"From", "From"}, {"Reply-To", "Reply-To"}, {"Sent", "Date"}, {"To", "To"},
                 {"CC", "CC"},     {"Subject", "Subject"}};
  bool found = false;
  bool unlabelled = false;
  for (const THeaderRow &row : rows) {
    if (row.Cells != 2) continue;
    const std::string label = Trim(row.Label);
    bool known = false;
    for (const auto &entry : kLabels) {
      if (!StartsText(entry.Label, label)) continue;
      edits.push_back({entry.Field, Trim(row.Value), std::string(entry.Field) == "Date"});
      known = found = true;
      break;
    }
    if (!known && row.LabelHtml.find("&nbsp;:") != std::string::npos) unlabelled = true;
  }
  return found && !unlabelled;
}

bool HeaderFromPositions(const std::vector<THeaderRow> &rows, THeaderEdits &edits) {
  TStringList values;
  for (const THeaderRow &row : rows)
    if (row.Cells == 2 && row.LabelHtml.find("&nbsp;:") != std::string::npos)
      values.push_back(Trim(row.Value));
  if (values.empty()) return false;
  auto set = [&edits](const char *field, const std::string &value, bool isDate = false) {
    edits.push_back({field, value, isDate});
  };
  auto remove = [&edits](const char *field) { edits.push_back({field, std::string(), false}); };
  auto toCcOrSubject = [&](const std::string &value) {
    set(value.find('@') != std::string::npos ? "CC" : "Subject", value);
  };
  size_t d = values.size();
  for (size_t i = 0; i < values.size(); ++i)
    if (!PatternSearch("\\d\\d:\\d\\d:\\d\\d", values[i], 0).empty()) {
      d = i;
      break;
    }
  if (d < values.size()) {
    if (d == 0) {
      remove("From");
      remove("Reply-to");
    } else if (d == 1) {
      set("From", values[0]);
      remove("Reply-to");
    } else {
      set("From", values[0]);
      set("Reply-to", values[1]);
    }
    set("Date", values[d], true);
    switch (values.size() - d) {
      case 4:
        set("To", values[d + 1]);
        set("CC", values[d + 2]);
        set("Subject", values[d + 3]);
        break;
      case 3:
        set("To", values[d + 1]);
        toCcOrSubject(values[d + 2]);
        break;
      case 2:
        toCcOrSubject(values[d + 1]);
        break;
      default:
        break;
    }
    return true;
  }
  if (values.back().find('@') == std::string::npos) {
    set("Subject", values.back());
    values.pop_back();
  }
  static const char *const kByCount[5][4] = {
      {}, {"From"}, {"From", "To"}, {"From", "To", "CC"}, {"From", "Reply-to", "To", "CC"}};
  if (values.size() <= 4)
    for (size_t i = 0; i < values.size(); ++i) set(kByCount[values.size()][i], values[i]);
  return true;
}

std::string ComposeAddressBeside(const std::string &address) {
  const std::string page = PatternSearch("/[^/<>]*\\?", address, kAnyCaseGreedy);
  if (page.empty()) return std::string();
  return ReplaceAll(address, page, "/compose?");
}

bool RichBodyShowsFormatting(const std::string &editorText, const TStringList &htmlLines) {
  if (editorText.find("<HTML>") != std::string::npos ||
      editorText.find("<BODY>") != std::string::npos)
    return false;
  const std::string tag = PatternSearch("<.+>", JoinLines(htmlLines, "\r\n"), kShortestWhole);
  if (tag.empty()) return true;
  return editorText.find(tag) == std::string::npos;
}

TStringList BlindCopyRecipients(const TStringList &recipients, const TStringList &toAndCc) {
  TStringList left = recipients;
  for (const std::string &address : toAndCc) {
    const std::string wanted = StripAngles(address);
    if (wanted.empty()) continue;
    for (auto it = left.begin(); it != left.end(); ++it)
      if (SameText(StripAngles(*it), wanted)) {
        left.erase(it);
        break;
      }
  }
  return left;
}
