#pragma once
// One stand-in service for the whole executable (the engine is started once
// too); each test gets fresh scrapers, and the stand-in's mailboxes and
// switches are put back between tests.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <memory>
#include <string>

#include "common/StandinProcess.h"
#include "http/HttpRequest.h"
#include "scraping/HotmailScraper.h"
#include "scraping/HotmailScraperFactory.h"

constexpr const char *kSiteUser = "site@hotmail.com";
constexpr const char *kSitePassword = "site-pass";
constexpr const char *kInboxId = "00000000-0000-0000-0000-000000000001";
constexpr const char *kJunkId = "00000000-0000-0000-0000-000000000005";

class ScraperTest : public ::testing::Test {
 public:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

 protected:
  void SetUp() override;
  void TearDown() override;

  // A scraper in its own hidden window, as the scrape session gets one.
  std::unique_ptr<THotmailScraper> NewScraper();
  // A scraper signed in to the site's demo account.
  std::unique_ptr<THotmailScraper> SignedIn(const std::string &user = kSiteUser,
                                            const std::string &password = kSitePassword);
  // The stand-in's messages of one folder of the site account.
  QJsonArray Folder(const std::string &folder, const std::string &account = kSiteUser) const;
  bool IsRead(const std::string &id, const std::string &folder = "inbox") const;
  bool Holds(const std::string &folder, const std::string &id) const;
  // A part's bytes as the stand-in holds them.
  std::string PartBytes(const std::string &id, int mimepart) const;
  std::string Base() const { return Standin->Base(); }

  static TStandinProcess *Standin;
};
