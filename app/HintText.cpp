#include "app/HintText.h"

#include <algorithm>

std::string HintPaneText(const std::string &hint) {
  const size_t bar = hint.find('|');
  const std::string text = bar == std::string::npos ? hint : hint.substr(bar + 1);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '#') {
      if (i + 1 < text.size() && text[i + 1] == '#') {
        out += '#';
        ++i;
      } else {
        out += '\n';
      }
    } else if (c != '~') {
      out += c;
    }
  }
  return out;
}

std::string HintShortText(const std::string &hint) {
  const size_t bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(0, bar);
}

int HintLineCount(const std::string &text) {
  return 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

int HintWindowHeight(int windowHeight, int designHeight, int paneHeight, int lines,
                     int lineHeight) {
  const int change = lines * lineHeight - paneHeight;
  if (change >= 1) return windowHeight + change;
  return std::max(windowHeight + change, std::min(windowHeight, designHeight));
}
