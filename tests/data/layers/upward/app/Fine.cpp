#include "servers/QuorServer.h"
#include "scraping/HotmailScraperFactory.h"
#include <QString>
