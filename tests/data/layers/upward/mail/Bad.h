#include "http/HttpRequest.h"
#include "scraping/HtmlText.h"
#include "mail/EmailMsg.h"
