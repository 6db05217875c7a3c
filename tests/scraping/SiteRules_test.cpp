// The site's page rules over texts, without a browser.
#include "scraping/SiteRules.h"

#include <gtest/gtest.h>

namespace {

THeaderRow Labelled(const std::string &label, const std::string &value) {
  return {2, label, value, label + "&nbsp;:"};
}

THeaderRow Unlabelled(const std::string &value) {
  return {2, "\xA0:", value, "<img src=\"x.gif\">&nbsp;:"};
}

std::string FieldOf(const THeaderEdits &edits, const std::string &field) {
  std::string value = "(unset)";
  for (const THeaderEdit &edit : edits)
    if (edit.Field == field) value = edit.Value;
  return value;
}

}  // namespace

TEST(SiteRules, ScriptLinksAreRecognisedAndUnwrapped) {
  std::string script;
  ASSERT_TRUE(ScriptOfLink(" \"javascript:HMFO('1')\"", script));
  EXPECT_EQ(script, "javascript:HMFO('1')");
  ASSERT_TRUE(ScriptOfLink("JavaScript:Subm('delete',0,1)", script));
  EXPECT_EQ(script, "JavaScript:Subm('delete',0,1)");
  EXPECT_FALSE(ScriptOfLink("http://host/javascript.html", script));
  EXPECT_FALSE(ScriptOfLink("", script));
  EXPECT_EQ(ScriptOfHandler("  \"Subm('markunread',0,1)\" "), "Subm('markunread',0,1)");
  EXPECT_EQ(ScriptOfHandler("G('/x')"), "G('/x')");
}

TEST(SiteRules, ListingAddressesAndPages) {
  EXPECT_EQ(SiteBaseOf("http://127.0.0.1:8080/cgi-bin/HoTMaiL?a=1"), "http://127.0.0.1:8080");
  EXPECT_EQ(SiteBaseOf("nothing here"), "");
  EXPECT_EQ(ListedMessageAddress("http://x:1/cgi-bin/getmsg?msg=7&len=30' extra", "http://b"),
            "http://b/cgi-bin/getmsg?msg=7&len=30");
  EXPECT_EQ(ListedMessageAddress("/cgi-bin/HoTMaiL?sort=From", "http://b"), "");
  // Two-digit pages: the whole number counts, and a listing goes on past
  // its second page.
  EXPECT_EQ(ListingPageNumber("http://h/cgi-bin/HoTMaiL?curmbox=1&page=12&n=3"), 12);
  EXPECT_EQ(ListingPageNumber("http://h/cgi-bin/HoTMaiL?curmbox=1&page=2"), 2);
  EXPECT_EQ(ListingPageNumber("http://h/cgi-bin/HoTMaiL?curmbox=1"), 1);
  EXPECT_EQ(ListingPageNumber("http://h/cgi-bin/HoTMaiL?page=&x=1"), 1);
  EXPECT_TRUE(HasPageLink("<a href=\"/cgi-bin/HoTMaiL?page=3\">3</a>", 3));
  EXPECT_FALSE(HasPageLink("<a href=\"/cgi-bin/HoTMaiL?page=30\">30</a>", 3));
  EXPECT_FALSE(HasPageLink("Page 2 of 2", 3));
}

TEST(SiteRules, SiteFurnitureIsNotTheBody) {
  EXPECT_TRUE(IsSiteFurniture("<img src=\"HTTP://base/GFX/logo.gif\">", "http://base/gfx/", ""));
  EXPECT_TRUE(IsSiteFurniture("<iframe src=\"http://base/ads/x\">", "", "http://base/ads/"));
  EXPECT_TRUE(IsSiteFurniture("<img src=crs_918.gif>", "", ""));
  EXPECT_TRUE(IsSiteFurniture("<a href=\"http://h/logout?lc=1\">", "", ""));
  EXPECT_FALSE(IsSiteFurniture("<pre>Hello, logout? never</pre>", "http://base/gfx/", "ads.host"));
  // Unset prefixes mark nothing.
  EXPECT_FALSE(IsSiteFurniture("<p>text</p>", "", ""));
}

TEST(SiteRules, LinksInABodyAreMadeUsableOutsideTheSite) {
  TStringList lines = {
      "<a href=\"/cgi-bin/compose?curmbox=F&amp;a=T&amp;mailto=1&amp;to=ed@example.com\">ed</a>",
      "<a href=\"javascript:OL('http://example.com/week49')\">issue</a>",
      "<a href=\"javascript:OL('ftp://ftp.example.com/f.txt')\">text</a>",
      "<img src=\"http://127.0.0.1:9/cgi-bin/saferd?msg=2&amp;mimepart=3\">"};
  ASSERT_TRUE(RewriteLinks(lines));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("<a href=\"mailto:ed@example.com\"", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("<a href=\"http://example.com/week49\"", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("<a href=\"ftp://ftp.example.com/f.txt\"", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "<img src=\"mimepart=3\">");

  TStringList plain = {"<p>Nothing to change</p>", "<a href=\"http://example.com/\">x</a>"};
  const TStringList before = plain;
  EXPECT_FALSE(RewriteLinks(plain));
  EXPECT_EQ(plain, before);
}

TEST(SiteRules, AttachmentPagesGiveTheirDownloadAddress) {
  EXPECT_EQ(DownloadAddressInCell("<a href=\"javascript:newAttachWin('http://h/cgi-bin/"
                                  "saferd?msg=1&amp;mimepart=2')\">Download File</a>"),
            "http://h/cgi-bin/saferd?msg=1&mimepart=2");
  EXPECT_EQ(DownloadAddressInCell("<a href=\"http://h/x\">no call</a>"), "");
  EXPECT_EQ(DownloadAddressInBody("<p>get it at http://h/cgi-bin/saferd?m=1&amp;p=2 now</p>"),
            "http://h/cgi-bin/saferd?m=1&p=2");
  EXPECT_EQ(DownloadAddressInBody("<p>http://h/cgi-bin/getmsg?m=1</p>"), "");
  EXPECT_EQ(AttachmentLocation("/cgi-bin/getmsg?msg=1&mimepart=12&attach=1", "a.pdf"),
            "mimepart=12");
  EXPECT_EQ(AttachmentLocation("/cgi-bin/getmsg?msg=1", "a.pdf"), "a.pdf");
  EXPECT_EQ(FileExtensionOf("slides.final.PDF"), ".PDF");
  EXPECT_EQ(FileExtensionOf("notes.txt..."), ".txt");
  EXPECT_EQ(FileExtensionOf("README"), "");
}

TEST(SiteRules, LabelledHeaderRows) {
  THeaderEdits edits;
  ASSERT_TRUE(HeaderFromLabelledRows({Labelled("From", " Anna <a@x.net> "),
                                      Labelled("Reply-To", "r@x.net"),
                                      Labelled("Sent", "Mon, 07 Dec 2026 10:02:11 +0100"),
                                      Labelled("To", "b@y.org"),
                                      Labelled("CC", "c@y.org"),
                                      Labelled("Subject", "Hello"),
                                      {3, "a", "b", "c"}},
                                     edits));
  EXPECT_EQ(FieldOf(edits, "From"), "Anna <a@x.net>");
  EXPECT_EQ(FieldOf(edits, "Reply-To"), "r@x.net");
  EXPECT_EQ(FieldOf(edits, "To"), "b@y.org");
  EXPECT_EQ(FieldOf(edits, "CC"), "c@y.org");
  EXPECT_EQ(FieldOf(edits, "Subject"), "Hello");
  ASSERT_EQ(FieldOf(edits, "Date"), "Mon, 07 Dec 2026 10:02:11 +0100");
  for (const THeaderEdit &edit : edits) EXPECT_EQ(edit.IsDate, edit.Field == "Date");

  // An unlabelled row hands the table to the positional rule.
  edits.clear();
  EXPECT_FALSE(HeaderFromLabelledRows({Labelled("From", "a@x"), Unlabelled("b@y")}, edits));
  edits.clear();
  EXPECT_FALSE(HeaderFromLabelledRows({Unlabelled("a@x")}, edits));
  EXPECT_TRUE(edits.empty());
}

TEST(SiteRules, PositionalHeaderRowsAroundTheTimeOfDay) {
  THeaderEdits edits;
  ASSERT_TRUE(HeaderFromPositions({Unlabelled("a@x.net"), Unlabelled("Dec 7, 2026 10:02:11 AM"),
                                   Unlabelled("b@y.org"), Unlabelled("Lunch")},
                                  edits));
  EXPECT_EQ(FieldOf(edits, "From"), "a@x.net");
  EXPECT_EQ(FieldOf(edits, "Reply-to"), "");
  EXPECT_EQ(FieldOf(edits, "Date"), "Dec 7, 2026 10:02:11 AM");
  EXPECT_EQ(FieldOf(edits, "To"), "b@y.org");
  EXPECT_EQ(FieldOf(edits, "Subject"), "Lunch");
  EXPECT_EQ(FieldOf(edits, "CC"), "(unset)");

  edits.clear();
  ASSERT_TRUE(HeaderFromPositions({Unlabelled("a@x"), Unlabelled("r@x"), Unlabelled("10:00:00"),
                                   Unlabelled("b@y"), Unlabelled("c@y"), Unlabelled("Hi")},
                                  edits));
  EXPECT_EQ(FieldOf(edits, "Reply-to"), "r@x");
  EXPECT_EQ(FieldOf(edits, "CC"), "c@y");
  EXPECT_EQ(FieldOf(edits, "Subject"), "Hi");

  edits.clear();
  ASSERT_TRUE(HeaderFromPositions({Unlabelled("12:00:00"), Unlabelled("c@y")}, edits));
  EXPECT_EQ(FieldOf(edits, "From"), "");
  EXPECT_EQ(FieldOf(edits, "CC"), "c@y");

  // Without a time: the last value without "@" is the subject.
  edits.clear();
  ASSERT_TRUE(HeaderFromPositions({Unlabelled("a@x"), Unlabelled("b@y"), Unlabelled("Hi")}, edits));
  EXPECT_EQ(FieldOf(edits, "From"), "a@x");
  EXPECT_EQ(FieldOf(edits, "To"), "b@y");
  EXPECT_EQ(FieldOf(edits, "Subject"), "Hi");
  EXPECT_EQ(FieldOf(edits, "Date"), "(unset)");

  edits.clear();
  EXPECT_FALSE(HeaderFromPositions({{2, "From", "a@x", "From"}, {1, "x", "", ""}}, edits));
  EXPECT_TRUE(edits.empty());
}

TEST(SiteRules, ComposeAndRichEditorChecks) {
  EXPECT_EQ(ComposeAddressBeside("http://h:1/cgi-bin/HoTMaiL?curmbox=1&a=T"),
            "http://h:1/cgi-bin/compose?curmbox=1&a=T");
  EXPECT_EQ(ComposeAddressBeside("http://h/plain/page"), "");
  const TStringList html = {"<html><body><p>Hi <b>you</b></p></body></html>"};
  EXPECT_TRUE(RichBodyShowsFormatting("<P>Hi <B>you</B></P>", html));
  EXPECT_FALSE(RichBodyShowsFormatting("<html><body><p>Hi</p>", html));
  EXPECT_FALSE(RichBodyShowsFormatting("<HTML><BODY>Hi", {"<p>Hi</p>"}));
  EXPECT_TRUE(RichBodyShowsFormatting("anything", {"no tags at all"}));
}

TEST(SiteRules, BlindCopiesAreTheEnvelopeRecipientsNotInToOrCc) {
  EXPECT_EQ(BlindCopyRecipients({"<A@x.net>", "b@y.org", "hidden@z.com", "a@x.net"},
                                {"a@x.net", "B@Y.org"}),
            TStringList({"hidden@z.com", "a@x.net"}));
  EXPECT_TRUE(BlindCopyRecipients({"a@x"}, {"a@x", "b@y"}).empty());
  EXPECT_EQ(BlindCopyRecipients({"a@x"}, {}), TStringList({"a@x"}));
}
