// Header blocks from outside: parse, query, edit, and check that writing a
// block and reading it again gives the same fields.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  TStringList lines = SplitLines(text);
  TEmailHeader header;
  header.LoadFromLines(lines, true);

  std::string value;
  for (const char *name : {"Content-Type", "Content-Disposition", "Subject", "To", "CC",
                           "Content-Transfer-Encoding"}) {
    header.GetField(name, value, true);
    header.GetDecodedField(name, value);
    header.GetMainValue(name, value, false);
    header.GetDecodedMainValue(name, value);
  }
  header.GetParam("Content-Type", "boundary", true, value);
  header.GetDecodedParam("Content-Disposition", "filename", value);
  header.GetBoundaryDelimiter(value);
  header.IsMultipart();
  header.IsMultipartAlternative();
  header.IsMultipartMixed();
  header.IsText();
  header.IsPlainText();
  header.IsHtml();
  header.IsEmbeddedMessage();
  header.IsAttachment();
  header.IsInline();
  header.IsInlineAttachment();
  header.GetContentType(value);
  header.GetTransferEncoding(value);
  const TMIMEDecoder *decoder = nullptr;
  header.GetDecoderClass(decoder);
  if (!decoder) std::abort();
  header.IsEncoded();
  header.GetFileName(value);
  header.GetToAddresses();
  header.GetCcAddresses();

  TStringList saved;
  header.SaveToLines(saved);
  TEmailHeader again;
  again.LoadFromLines(saved, false);
  if (again.Count() != header.Count()) std::abort();
  for (int i = 0; i < header.Count(); ++i)
    if (again.Names(i) != header.Names(i) || again.Values(i) != header.Values(i)) std::abort();

  // On a plain field (no quoting, printable ASCII) a boundary that was set is
  // the one read back.
  std::string type;
  header.GetDecodedField("Content-Type", type);
  bool clean = true;
  for (char c : type) clean = clean && c >= ' ' && c <= '~' && c != '"' && c != '\\';
  header.SetParam("Content-Type", "charset", "\"utf-8\"");
  header.SetMainValue("Content-Type", "multipart/related");
  header.SetBoundary("fuzz boundary");
  header.GetBoundaryDelimiter(value);
  if (clean && value != "--fuzz boundary") std::abort();
  header.SetField("Subject", "");
  return 0;
}
