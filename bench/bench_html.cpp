// Tokenizer throughput on a real page, beside a full HTML5 parser (gumbo)
// reading the same bytes in the same run. The tokenizer builds no tree, so it
// is expected to be well ahead; the comparison keeps it honest.
#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <fstream>
#include <sstream>
#include <string>

#include "scraping/HTMLParser.h"
#include "scraping/HtmlText.h"

namespace {

const std::string &Page() {
  static const std::string page = [] {
    std::ifstream in("/usr/share/doc/fetchmail/fetchmail-FAQ.html", std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  }();
  return page;
}

void BM_Tokenize(benchmark::State &state) {
  const std::string &page = Page();
  if (page.empty()) return state.SkipWithError("page not installed");
  for (auto _ : state) {
    THTMLParser parser;
    parser.Parse(page);  // line splitting included: both start from one buffer
    benchmark::DoNotOptimize(parser.Tokens.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}
BENCHMARK(BM_Tokenize)->Unit(benchmark::kMicrosecond);

void BM_Gumbo(benchmark::State &state) {
  const std::string &page = Page();
  if (page.empty()) return state.SkipWithError("page not installed");
  for (auto _ : state) {
    GumboOutput *output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    benchmark::DoNotOptimize(output->root);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}
BENCHMARK(BM_Gumbo)->Unit(benchmark::kMicrosecond);

void BM_HtmlToText(benchmark::State &state) {
  const std::string &page = Page();
  if (page.empty()) return state.SkipWithError("page not installed");
  for (auto _ : state) {
    std::string text = page;
    HtmlToText(text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}
BENCHMARK(BM_HtmlToText)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
