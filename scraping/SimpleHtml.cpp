#include "scraping/SimpleHtml.h"

#include <algorithm>

#include "scraping/HtmlText.h"

void TSimpleHtml::AddLine(const std::string &text, int level, bool withBreak, int form) {
  if (level == -1) level = FData.empty() ? 5 : Level(FData.size() - 1);
  level = std::clamp(level, 0, 255);
  form = std::clamp(form, 0, 255);
  FLines.push_back(withBreak ? "<br>" + text : text);
  FData.push_back(uint16_t(level | (form << 8)));
}

void TSimpleHtml::KeepForm(int form) {
  if (form == shfBoth) return;
  for (size_t i = FLines.size(); i-- > 0;) {
    int f = Form(i);
    if (f != shfBoth && f != form) {
      FLines.erase(FLines.begin() + i);
      FData.erase(FData.begin() + i);
    }
  }
}

void TSimpleHtml::ToText(TStringList &lines) const {
  lines = FLines;
  HtmlToText(lines);
}

void TSimpleHtml::Clear() {
  FLines.clear();
  FData.clear();
}

TSimpleHtml *TSimpleHtmlList::Add() {
  FItems.push_back(std::make_unique<TSimpleHtml>());
  return FItems.back().get();
}
