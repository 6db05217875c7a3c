// Transfer-codec throughput beside OpenSSL's base64 block functions on the
// same data in the same run, so the ratio holds whatever the machine's load.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "mail/EmailDecoders.h"

namespace {

constexpr size_t kSize = 4 << 20;

const std::string &BinaryData() {
  static const std::string data = [] {
    std::mt19937 rng(42);
    std::string d(kSize, '\0');
    for (char &c : d) c = char(rng());
    return d;
  }();
  return data;
}

// Mostly plain text with some 8-bit letters and equals signs, as a
// quoted-printable body usually is.
const std::string &TextData() {
  static const std::string data = [] {
    std::mt19937 rng(7);
    std::string d;
    d.reserve(kSize);
    while (d.size() < kSize) {
      for (int i = 0; i < 70; ++i) {
        unsigned r = rng() % 100;
        d += r < 85 ? char('a' + r % 26) : r < 95 ? ' ' : r < 98 ? char(0xE9) : '=';
      }
      d += "\r\n";
    }
    return d;
  }();
  return data;
}

std::string FlatBase64() { return Base64EncodeBytes(BinaryData()); }

void Finish(benchmark::State &state, size_t bytes) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_Base64EncodeFlat(benchmark::State &state) {
  const std::string &data = BinaryData();
  for (auto _ : state) benchmark::DoNotOptimize(Base64EncodeBytes(data));
  Finish(state, data.size());
}

void BM_Base64EncodeLines(benchmark::State &state) {
  const std::string &data = BinaryData();
  for (auto _ : state) {
    TStringList lines;
    TBase64Decoder::Instance().Encode(data, lines);
    benchmark::DoNotOptimize(lines);
  }
  Finish(state, data.size());
}

void BM_OpenSSLEncodeBlock(benchmark::State &state) {
  const std::string &data = BinaryData();
  std::string out(data.size() / 3 * 4 + 8, '\0');
  for (auto _ : state) {
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                            reinterpret_cast<const unsigned char *>(data.data()), int(data.size()));
    benchmark::DoNotOptimize(n);
  }
  Finish(state, data.size());
}

void BM_Base64DecodeFlat(benchmark::State &state) {
  const std::string text = FlatBase64();
  for (auto _ : state) benchmark::DoNotOptimize(Base64DecodeBytes(text));
  Finish(state, text.size());
}

void BM_Base64DecodeLines(benchmark::State &state) {
  TStringList lines;
  TBase64Decoder::Instance().Encode(BinaryData(), lines);
  size_t bytes = 0;
  for (const auto &l : lines) bytes += l.size();
  for (auto _ : state) {
    std::string out;
    TBase64Decoder::Instance().Decode(lines, out);
    benchmark::DoNotOptimize(out);
  }
  Finish(state, bytes);
}

void BM_OpenSSLDecodeBlock(benchmark::State &state) {
  const std::string text = FlatBase64();
  std::string out(text.size() / 4 * 3 + 8, '\0');
  for (auto _ : state) {
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                            reinterpret_cast<const unsigned char *>(text.data()), int(text.size()));
    benchmark::DoNotOptimize(n);
  }
  Finish(state, text.size());
}

void BM_QuotedPrintableEncode(benchmark::State &state) {
  const std::string &data = TextData();
  for (auto _ : state) {
    TStringList lines;
    TQuotedPrintableDecoder::Instance().Encode(data, lines);
    benchmark::DoNotOptimize(lines);
  }
  Finish(state, data.size());
}

void BM_QuotedPrintableDecode(benchmark::State &state) {
  TStringList lines;
  TQuotedPrintableDecoder::Instance().Encode(TextData(), lines);
  size_t bytes = 0;
  for (const auto &l : lines) bytes += l.size() + 2;
  for (auto _ : state) {
    std::string out;
    TQuotedPrintableDecoder::Instance().Decode(lines, out);
    benchmark::DoNotOptimize(out);
  }
  Finish(state, bytes);
}

}  // namespace

BENCHMARK(BM_Base64EncodeFlat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64EncodeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSLEncodeBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64DecodeFlat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64DecodeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSLDecodeBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableDecode)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
