// The site's pages are outside input: links, cells and body HTML reach the
// page rules as the site wrote them. Every rule must take anything, stop,
// and keep its promises about what it gives back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/StrUtil.h"
#include "scraping/SiteRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);

  std::string script;
  if (ScriptOfLink(input, script) && script.size() > input.size()) std::abort();
  ScriptOfHandler(input);

  const std::string base = SiteBaseOf(input);
  if (!base.empty() && base.find("//") == std::string::npos) std::abort();
  const std::string listed = ListedMessageAddress(input, "http://base");
  if (!listed.empty() && !StartsText("http://base/cgi-bin/getms", listed)) std::abort();
  const int page = ListingPageNumber(input);
  HasPageLink(input, page + 1);

  IsSiteFurniture(input, "http://base/gfx/", "http://base/ads/");
  DownloadAddressInCell(input);
  DownloadAddressInBody(input);
  AttachmentLocation(input, "name");
  const std::string ext = FileExtensionOf(input);
  if (!ext.empty() && ext[0] != '.') std::abort();

  // Rewriting must come to an end whatever the page holds.
  TStringList lines = SplitLines(input);
  RewriteLinks(lines);

  // Header rows from the input's lines, two cells each, every other one
  // unlabelled.
  std::vector<THeaderRow> rows;
  const TStringList parts = SplitLines(input);
  for (size_t i = 0; i + 1 < parts.size() && rows.size() < 16; i += 2)
    rows.push_back({2, parts[i], parts[i + 1], i % 4 ? parts[i] : parts[i] + "&nbsp;:"});
  THeaderEdits edits;
  HeaderFromLabelledRows(rows, edits);
  edits.clear();
  HeaderFromPositions(rows, edits);
  for (const THeaderEdit &edit : edits)
    if (edit.Field.empty() || edit.Value.size() > input.size()) std::abort();

  ComposeAddressBeside(input);
  RichBodyShowsFormatting(input, parts);
  const TStringList left = BlindCopyRecipients(parts, {input});
  if (left.size() > parts.size()) std::abort();
  return 0;
}
