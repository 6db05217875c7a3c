#pragma once
// The webmail site's pages read as text: which link is a script, where a
// listing continues, which table is the body, how header rows map to fields,
// how links in a rebuilt body are made to work outside the site. Plain
// functions over page texts, so that the browser-driving scraper stays a thin
// layer over them and they can be tested without a browser.
#include <string>
#include <vector>

#include "foundation/StrUtil.h"

// ---- Links and scripts -----------------------------------------------------
// When Href (trimmed) is a script link ("java" at its first or second
// character, the second when it is wrapped in double quotes), its script text
// with the surrounding quotes dropped; false for ordinary addresses.
bool ScriptOfLink(const std::string &href, std::string &script);
// An onclick attribute as a runnable script: trimmed, surrounding double
// quotes dropped.
std::string ScriptOfHandler(const std::string &onclick);

// ---- Listings ----------------------------------------------------------------
// Scheme, "//" and host of Address, without a trailing "/"; empty when the
// address has no "//...//" form.
std::string SiteBaseOf(const std::string &address);
// The message address a listing link points to (the site base joined to the
// link's "/cgi-bin/getmsg?..." part); empty for links to anything else.
std::string ListedMessageAddress(const std::string &href, const std::string &siteBase);
// The page number a listing address shows: the digits after "page=", 1 when
// there are none.
int ListingPageNumber(const std::string &address);
// Whether a page's HTML links to listing page Page ("page=" directly
// followed by that number and no further digit).
bool HasPageLink(const std::string &html, int page);

// ---- Message pages -----------------------------------------------------------
// Whether a table's inner HTML shows the site's own furniture (adverts, the
// image server, the logout link) rather than a message body.
bool IsSiteFurniture(const std::string &tableHtml, const std::string &imageServerPrefix,
                     const std::string &advertHost);
// The site's links inside a rebuilt HTML body made usable outside it: compose
// links become mailto links, script calls with an address become plain
// links, inline parts point to their Content-Location. True when changed.
bool RewriteLinks(TStringList &lines);
// The download address an attachment page offers: from a cell holding the
// "newAttachWin(...)" call, else from the page body's "saferd" address; HTML
// references decoded. Empty when neither holds one.
std::string DownloadAddressInCell(const std::string &cellHtml);
std::string DownloadAddressInBody(const std::string &bodyHtml);
// "mimepart=N" of an attachment link, else the attachment's name: the
// Content-Location its part gets, which RewriteLinks points inline images to.
std::string AttachmentLocation(const std::string &href, const std::string &name);
// The extension of a file name, from its last "." on, after dots at the very
// end are dropped; empty when it has none.
std::string FileExtensionOf(const std::string &name);

// ---- Header tables -----------------------------------------------------------
// One row of a header table: how many cells it has, the texts of its first
// two cells and the HTML of the first.
struct THeaderRow {
  int Cells = 0;
  std::string Label;
  std::string Value;
  std::string LabelHtml;
};
// One change to the message header: set Field to Value, or remove it when
// Value is empty. Dates are flagged so that the caller can write them in
// RFC 822 form when they can be read.
struct THeaderEdit {
  std::string Field;
  std::string Value;
  bool IsDate = false;
  bool operator==(const THeaderEdit &other) const {
    return Field == other.Field && Value == other.Value && IsDate == other.IsDate;
  }
};
using THeaderEdits = std::vector<THeaderEdit>;
// Rows labelled "From", "Sent", "To", ...: true when a field was found and no
// unlabelled row (first cell "&nbsp;:") was seen.
bool HeaderFromLabelledRows(const std::vector<THeaderRow> &rows, THeaderEdits &edits);
// Unlabelled rows, read by position around the value that holds a time of
// day. False when the table has no unlabelled row.
bool HeaderFromPositions(const std::vector<THeaderRow> &rows, THeaderEdits &edits);

// ---- Compose page ------------------------------------------------------------
// The compose page's address next to the page now shown: its last path
// segment replaced by "compose". Empty when the address has no "/...?" part.
std::string ComposeAddressBeside(const std::string &address);
// Whether the page's rich editor took an HTML body as formatting: its text
// must show neither the document tags nor the source's first tag.
bool RichBodyShowsFormatting(const std::string &editorText, const TStringList &htmlLines);
// The envelope recipients that are in neither To nor CC (compared without
// regard to case, each listed address taking out one recipient).
TStringList BlindCopyRecipients(const TStringList &recipients, const TStringList &toAndCc);
