#pragma once
// The one way the scrape session obtains a browser-backed scraper. The
// scraper lives inside its own hidden host window, which it owns: the window
// never reaches the screen and never takes the focus (its caption follows
// AllowFocus: "Hide" while false, "Show" while true). Needs a QApplication
// (widgets) on the calling thread; every call is made on that thread.
#include <memory>

#include "scraping/SiteScraper.h"

std::unique_ptr<TSiteScraper> CreateHotmailScraper();
