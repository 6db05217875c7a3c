// Logon, page waits and clicks against the stand-in site in the real engine.
#include <QJsonArray>
#include <QJsonObject>
#include <QWebEngineView>
#include <QWidget>

#include "foundation/QuorUtil.h"
#include "support/ScraperFixture.h"

namespace {

int RequestsTo(TStandinProcess &standin, const QString &path) {
  return int(standin.RequestsTo("", path).size());
}

}  // namespace

TEST_F(ScraperTest, LogonReachesTheInboxAndKeepsTheCredentials) {
  auto scraper = NewScraper();
  ASSERT_TRUE(scraper);
  std::vector<std::string> logged;
  scraper->SetOnLog([&](const std::string &text, uint8_t, bool) { logged.push_back(text); });
  std::string error = "left over";
  scraper->Login(kSiteUser, kSitePassword, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(scraper->UserName(), kSiteUser);
  EXPECT_EQ(scraper->Password(), kSitePassword);
  EXPECT_NE(scraper->InboxUrl.find("/cgi-bin/HoTMaiL?"), std::string::npos) << scraper->InboxUrl;
  EXPECT_EQ(scraper->Browser().LocationUrl(), scraper->InboxUrl);
  EXPECT_EQ(scraper->FolderToken.size(), 32u) << "the site's a= token follows completed pages";
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(THotmailScraper::SoundSuppressionDepth(), 0);

  // Already there: nothing is loaded.
  const int loads = scraper->NavigationCount();
  scraper->GoToInbox(error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(scraper->NavigationCount(), loads);
}

TEST_F(ScraperTest, WrongPasswordWithTheErrorIconIsRejectedAs401) {
  auto scraper = NewScraper();
  std::string error;
  scraper->Login(kSiteUser, "wrong", error);
  EXPECT_EQ(error, "401 - Userid or password rejected.");
  // Refused credentials are not remembered as a logon.
  EXPECT_EQ(scraper->UserName(), "");
  EXPECT_EQ(scraper->Password(), "");
}

TEST_F(ScraperTest, WrongPasswordWithoutTheErrorIconIsRefusedAs503) {
  ASSERT_TRUE(Standin->SetFault("no_error_icon"));
  auto scraper = NewScraper();
  std::string error;
  scraper->Login(kSiteUser, "wrong", error);
  EXPECT_EQ(error, "503 Invalid address or password.");
}

TEST_F(ScraperTest, ALogoutLinkOnTheHomePageSignsOutFirst) {
  ASSERT_TRUE(
      Standin->SetFault("logout_link", QJsonObject{{"count", 1}, {"paths", QJsonArray{"/$"}}}));
  Standin->ClearRequests();
  auto scraper = NewScraper();
  std::string error;
  scraper->Login(kSiteUser, kSitePassword, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(RequestsTo(*Standin, "/logout.srf"), 1);
  EXPECT_EQ(scraper->Timeout, 30000u);
  EXPECT_EQ(scraper->UserName(), kSiteUser);
}

TEST_F(ScraperTest, ASiteThatStaysSignedOutEndsTheLogoutRounds) {
  // The link is shown on every visit: the scraper must not go round for ever.
  ASSERT_TRUE(Standin->SetFault("logout_link"));
  Standin->ClearRequests();
  auto scraper = NewScraper();
  std::string error;
  scraper->Login(kSiteUser, kSitePassword, error);
  EXPECT_EQ(error, "");
  EXPECT_LE(RequestsTo(*Standin, "/logout.srf"), 3);
}

TEST_F(ScraperTest, AnErrorPageWithoutTheFormHasNoLoginForm) {
  ASSERT_TRUE(Standin->SetFault("site_down", QJsonObject{{"status", 503}}));
  auto scraper = NewScraper();
  std::string error;
  scraper->Login(kSiteUser, kSitePassword, error);
  EXPECT_EQ(error, "Could not find login form.");
}

TEST_F(ScraperTest, ASiteThatDoesNotAnswerFailsToConnect) {
  ASSERT_TRUE(Standin->SetFault("site_down"));
  auto scraper = NewScraper();
  bool sawError = false;
  scraper->SetOnLog([&](const std::string &text, uint8_t detail, bool isError) {
    sawError = text == "Failed to connect to hotmail" && detail == 7 && isError;
  });
  std::string error;
  scraper->Login(kSiteUser, kSitePassword, error);
  EXPECT_EQ(error, "Failed to connect to hotmail");
  EXPECT_TRUE(sawError);
}

TEST_F(ScraperTest, AccountNotShownOnTheInboxIsNotConfirmed) {
  auto scraper = SignedIn();
  scraper->SetUserName("somebody.else@hotmail.com");
  std::string error;
  scraper->VerifyLoggedIn(error);
  EXPECT_EQ(error, "Could not confirm account name");
}

TEST_F(ScraperTest, NothingLoadedMeansNotLoggedIn) {
  auto scraper = NewScraper();
  std::string error;
  scraper->GoToInbox(error);
  EXPECT_EQ(error, "Not logged in");
  scraper->GoToJunkFolder(error);
  EXPECT_EQ(error, "Not logged in");
}

TEST_F(ScraperTest, PagesThatKeepNavigatingAreNotSettledUntilQuiet) {
  auto scraper = NewScraper();
  ASSERT_TRUE(
      Standin->SetFault("script_navigation", QJsonObject{{"interval_ms", 300}, {"count", 4}}));
  const int before = scraper->NavigationCount();
  scraper->Browser().Navigate(Base() + "/");
  EXPECT_TRUE(scraper->WaitForPage());
  // Every hop was waited for; the page that settled carries the last one.
  EXPECT_GE(scraper->NavigationCount() - before, 4);
  EXPECT_NE(scraper->LastUrl.find("hop="), std::string::npos) << scraper->LastUrl;
}

TEST_F(ScraperTest, TheTimeLimitStopsAPageThatNeverSettles) {
  auto scraper = NewScraper();
  ASSERT_TRUE(Standin->SetFault("script_navigation", QJsonObject{{"interval_ms", 300}}));
  scraper->Timeout = 2500;
  scraper->Browser().Navigate(Base() + "/");
  EXPECT_FALSE(scraper->WaitForPage());
  EXPECT_FALSE(scraper->Busy);
  Standin->ClearFaults();
}

TEST_F(ScraperTest, TerminateAndCancelFlagsEndAWait) {
  auto scraper = NewScraper();
  ASSERT_TRUE(Standin->SetFault("slow_pages", QJsonObject{{"seconds", 3}}));
  for (int which = 0; which < 2; ++which) {
    bool flag = true;
    if (which == 0)
      scraper->SetTerminateFlag(&flag);
    else
      scraper->SetCancelFlag(&flag);
    EXPECT_TRUE(scraper->IsTerminated());
    scraper->Browser().Navigate(Base() + "/?which=" + std::to_string(which));
    // The page comes after three seconds and the limit is thirty: only the
    // flag can end this wait with false.
    EXPECT_FALSE(scraper->WaitForPage()) << which;
    scraper->SetTerminateFlag(nullptr);
    scraper->SetCancelFlag(nullptr);
    EXPECT_FALSE(scraper->IsTerminated());
  }
}

TEST_F(ScraperTest, TheSameAddressTwiceIsNoNewPage) {
  auto scraper = NewScraper();
  scraper->Browser().Navigate(Base() + "/?same=1");
  EXPECT_TRUE(scraper->WaitForPage());
  scraper->Browser().Navigate(Base() + "/?same=1");
  EXPECT_FALSE(scraper->WaitForPage());
  scraper->Browser().Navigate(Base() + "/?same=2");
  EXPECT_TRUE(scraper->WaitForPage());
}

TEST_F(ScraperTest, AMarkerEndsTheWaitOnceThePageShowsIt) {
  // The page shows its form at once but keeps loading a frame for twenty
  // seconds; the limit is five.
  ASSERT_TRUE(Standin->SetFault("slow_pages",
                                QJsonObject{{"seconds", 20}, {"paths", QJsonArray{"/gfx/frame"}}}));
  auto scraper = NewScraper();
  scraper->Timeout = 5000;
  auto page = [&](int n) {
    return "data:text/html,<form name='f1'><input name=\"passwd\" type='password'></form>"
           "<iframe src='" +
           Base() + "/gfx/frame" + std::to_string(n) + "'></iframe>";
  };
  scraper->Browser().Navigate(page(1));
  EXPECT_TRUE(scraper->WaitForPage("name=\"passwd\""));
  // Without the marker the same page never finishes within the limit.
  scraper->Browser().Navigate(page(2));
  EXPECT_FALSE(scraper->WaitForPage());
}

TEST_F(ScraperTest, ScriptLinksRunAndOrdinaryLinksAreClicked) {
  auto scraper = NewScraper();
  TBrowserControl &browser = scraper->Browser();
  browser.Navigate(
      "data:text/html,<title>start</title>"
      "<a id='quoted' href=' \"javascript:document.title=&apos;ran&apos;\"'>q</a>"
      "<a id='plain' href='" +
      Base() +
      "/?plain=1'>p</a>"
      "<span id='handler' onclick=\"document.title='clicked'\">h</span>");
  ASSERT_TRUE(scraper->WaitForPage());
  const TBrowserElement document = browser.Document();
  const TBrowserElements all = browser.Collection(document, "all");
  const std::vector<std::string> ids = browser.Properties(all, "id");
  auto byId = [&](const std::string &id) {
    for (size_t i = 0; i < all.size(); ++i)
      if (ids[i] == id) return all[i];
    return TBrowserElement();
  };
  ASSERT_TRUE(scraper->ClickElement(byId("quoted")));
  EXPECT_EQ(browser.Property(document, "title"), "ran");
  ASSERT_TRUE(scraper->ClickElement(byId("handler")));
  EXPECT_EQ(browser.Property(document, "title"), "clicked");
  // A click that loads nothing leaves the address as it was: no new page.
  EXPECT_FALSE(scraper->WaitForPage());

  ASSERT_TRUE(scraper->ClickElement(byId("plain")));
  EXPECT_TRUE(scraper->WaitForPage());
  EXPECT_NE(browser.LocationUrl().find("plain=1"), std::string::npos);
  // The old page's handles are refused, not answered from the new page.
  EXPECT_FALSE(scraper->ClickElement(byId("quoted")));
  EXPECT_THROW(browser.Property(document, "title"), EBrowserError);
}

TEST_F(ScraperTest, TwoScrapersKeepTwoAccountsApart) {
  auto site = SignedIn();
  auto demo = SignedIn("demo@hotmail.com", "demo-pass");
  ASSERT_EQ(site->UserName(), kSiteUser);
  ASSERT_EQ(demo->UserName(), "demo@hotmail.com");
  EXPECT_NE(site->Browser().Cookie(), demo->Browser().Cookie());
  // Each is still signed in as itself after the other's logon.
  std::string error;
  site->VerifyLoggedIn(error);
  EXPECT_EQ(error, "");
  demo->VerifyLoggedIn(error);
  EXPECT_EQ(error, "");
  TStringList siteMessages, demoMessages;
  site->ReadInbox(siteMessages, error);
  EXPECT_EQ(error, "");
  demo->ReadInbox(demoMessages, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(siteMessages.size(), size_t(Folder("inbox").size()));
  EXPECT_EQ(demoMessages.size(), size_t(Folder("inbox", "demo@hotmail.com").size()));
}

TEST_F(ScraperTest, TheHostWindowStaysHiddenAndFollowsAllowFocus) {
  auto scraper = NewScraper();
  QWidget *host = scraper->Browser().View()->window();
  ASSERT_TRUE(host);
  EXPECT_EQ(host->windowTitle(), "Hide");
  EXPECT_FALSE(host->isEnabled());
  EXPECT_TRUE(host->testAttribute(Qt::WA_DontShowOnScreen));
  scraper->SetAllowFocus(true);
  EXPECT_EQ(host->windowTitle(), "Show");
  EXPECT_TRUE(host->isEnabled());
  scraper->SetAllowFocus(false);
  EXPECT_EQ(host->windowTitle(), "Hide");
}

TEST_F(ScraperTest, AdvertisementsAreNeverFetched) {
  Standin->ClearRequests();
  auto scraper = NewScraper();
  scraper->Browser().Navigate(Base() + "/?ads=1");
  ASSERT_TRUE(scraper->WaitForPage());
  EXPECT_EQ(RequestsTo(*Standin, "/ads/"), 0);
  EXPECT_EQ(RequestsTo(*Standin, "ADSAdClient"), 0);
  EXPECT_GE(RequestsTo(*Standin, "ads=1"), 1);
}
