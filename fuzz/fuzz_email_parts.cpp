// Every part of a message from outside decoded, its text collected, and the
// missing body alternatives built.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/EmailMsg.h"

namespace {

void DecodeAll(TEmailMsgPartCollection &parts) {
  for (int i = 0; i < parts.Count(); ++i) {
    TEmailMsgPart *part = parts.Items(i);
    std::string bytes, again;
    part->DecodeToStream(bytes, false);
    part->DecodeToStream(again, false);
    if (bytes != again) std::abort();  // the cache must give what decoding gave
    TStringList lines;
    part->DecodeToStringList(lines, true);
    part->CollectText(lines, true);
    std::string name;
    part->Header()->GetFileName(name);
    DecodeAll(part->Parts());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  TEmailMsg msg;
  msg.SetSaveOnDestroy(false);
  msg.Text(text);
  DecodeAll(msg.Parts());
  TStringList plain;
  msg.GetPlainText(plain, true);
  TEmailMsgPart *p = nullptr, *h = nullptr;
  msg.FindBodyParts(p, h);
  msg.EnsureAlternatives();
  msg.AddAttachment({"QUJD"});
  std::string out;
  msg.GetRawMailText(out, false);
  msg.GetRawMailText(out, true);
  return 0;
}
