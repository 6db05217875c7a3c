#include "ScraperFixture.h"

#include <QJsonDocument>

TStandinProcess *ScraperTest::Standin = nullptr;

void ScraperTest::SetUpTestSuite() {
  if (!Standin) Standin = new TStandinProcess({}, "", 1800);
  SetServiceBaseOverride(Standin->Base());
}

void ScraperTest::TearDownTestSuite() {}

void ScraperTest::SetUp() {
  ASSERT_TRUE(Standin && Standin->Started()) << "the stand-in did not start";
  ASSERT_TRUE(Standin->ClearFaults());
  ASSERT_TRUE(Standin->Order({{"reload", true}}));
}

void ScraperTest::TearDown() { Standin->ClearFaults(); }

std::unique_ptr<THotmailScraper> ScraperTest::NewScraper() {
  std::unique_ptr<TSiteScraper> made = CreateHotmailScraper();
  auto *scraper = dynamic_cast<THotmailScraper *>(made.get());
  if (!scraper) return nullptr;
  made.release();
  return std::unique_ptr<THotmailScraper>(scraper);
}

std::unique_ptr<THotmailScraper> ScraperTest::SignedIn(const std::string &user,
                                                       const std::string &password) {
  auto scraper = NewScraper();
  std::string error;
  scraper->Login(user, password, error);
  EXPECT_EQ(error, "");
  return scraper;
}

QJsonArray ScraperTest::Folder(const std::string &folder, const std::string &account) const {
  return Standin->Messages(QString::fromStdString(account), QString::fromStdString(folder));
}

bool ScraperTest::IsRead(const std::string &id, const std::string &folder) const {
  for (const auto &value : Folder(folder)) {
    const QJsonObject message = value.toObject();
    if (message["id"].toString().toStdString() == id) return message["read"].toBool();
  }
  ADD_FAILURE() << id << " is not in " << folder;
  return false;
}

bool ScraperTest::Holds(const std::string &folder, const std::string &id) const {
  for (const auto &value : Folder(folder))
    if (value.toObject()["id"].toString().toStdString() == id) return true;
  return false;
}

std::string ScraperTest::PartBytes(const std::string &id, int mimepart) const {
  return Standin
      ->Exchange("GET", "/_control/part?account=" + std::string(kSiteUser) + "&msg=" + id +
                            "&mimepart=" + std::to_string(mimepart))
      .Body;
}
