#include "sessions/HttpMailMsgInfo.h"

std::string LastUrlSegment(const std::string &url) {
  const size_t slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}
