#include "scraping/HTMLParser.h"
#include "scraping/BrowserControl.h"
