#pragma once
// One RFC 822 message. It keeps the text as received and, once parsed, a
// main header and a MIME part tree that reproduce that text when written
// back. It can be backed by a file, loads and parses lazily, and offers the
// edits the gateway needs when it builds a message from web pages.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/QuorCriticalSections.h"
#include "foundation/StrUtil.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsgPart.h"

class TEmailMsg {
 public:
  TEmailMsg();
  // Writes the message to its file first when it was modified (see
  // SaveOnDestroy).
  ~TEmailMsg();
  TEmailMsg(const TEmailMsg &) = delete;
  TEmailMsg &operator=(const TEmailMsg &) = delete;

  // Lazy: load from the backing file and parse first when needed.
  TEmailHeader *Header();
  TEmailMsgPartCollection &Parts();
  // The same without loading or parsing, for the header and part code that
  // runs while the message is being parsed.
  TEmailHeader *MainHeader() const { return FHeader; }
  TEmailMsgPartCollection &TopParts() { return *FParts; }
  // A new header owned by this message (freed with it).
  TEmailHeader *CreateHeader();

  bool HasRawMail();
  bool SetRawMail(TStringList &lines);
  bool Text(std::string_view text);
  bool Parse(TStringList &lines);
  // The complete text; with Full false attachment bodies are replaced by
  // marker lines.
  bool GetRawMail(TStringList &lines, bool full);
  // The same as one text with CR LF after every line, without holding the
  // whole message a second time as line objects.
  bool GetRawMailText(std::string &text, bool full);
  void GetPlainText(TStringList &lines, bool everything);
  void FindBodyParts(TEmailMsgPart *&plainPart, TEmailMsgPart *&htmlPart);

  TEmailMsgPart *AddAttachment(TStringList lines);
  TEmailMsgPart *AddPlainTextPart();
  TEmailMsgPart *FAddHtmlTextPart();
  TEmailMsgPart *AddPlainTextAlternative();
  TEmailMsgPart *AddHtmlTextAlternative();
  TEmailMsgPart *EnsureAlternatives();
  TEmailMsgPart *EnsureBody();

  bool ReadFromFile(const std::string &fileName);
  bool LoadFromStream(std::istream &stream);
  bool SaveToFile();
  bool SaveToStream(std::ostream &stream);

  void SetModified(bool flag) { FModified = flag; }
  bool Modified() const { return FModified; }
  int Size() const { return FSize; }
  bool Parsed() const { return FParsed; }
  TEmailMsgPart *FindPart(const TPartPredicate &predicate, TEmailHeader *header);

  const std::string &FileName() const { return FFileName; }
  void SetFileName(const std::string &name) { FFileName = name; }
  const TStringList &Envelope() const { return FEnvelope; }
  void SetEnvelope(TStringList envelope) {
    FEnvelope = std::move(envelope);
    FModified = true;
  }
  bool ParseSubparts() const { return FParseSubparts; }
  void SetParseSubparts(bool on) { FParseSubparts = on; }
  bool SaveOnDestroy() const { return FSaveOnDestroy; }
  void SetSaveOnDestroy(bool on) { FSaveOnDestroy = on; }
  bool ParseOnLoad() const { return FParseOnLoad; }
  void SetParseOnLoad(bool on) { FParseOnLoad = on; }
  bool AddBodyIfMissing() const { return FAddBodyIfMissing; }
  void SetAddBodyIfMissing(bool on) { FAddBodyIfMissing = on; }

  // The line that carries the envelope at the top of a message file, and
  // the boundary prefixes of the parts this class adds.
  static constexpr const char *kEnvelopePrefix = "X-SMTP: ";
  static constexpr const char *kPreambleText =
      "This is a multi-part message in MIME format added by Mirandel.";

 private:
  void EnsureLoaded();
  void EnsureParsed();
  void Reset();
  bool ParseReader(TLineReader &reader);
  bool WriteAll(TLineSink &sink, bool full);
  TEmailHeader *NewBodyHeader(const std::string &type, const std::string &encoding,
                              const std::string &disposition);
  TEmailMsgPart *MakeTextPart(TEmailMsgPartCollection &collection, int index, bool html);
  TEmailMsgPart *AddTextPartTo(TEmailMsgPartCollection &collection, TEmailHeader *header,
                               bool html);
  TEmailMsgPart *CreateAlternativeWrapper();
  TEmailMsgPart *BodyPart();
  void GiveBodyOwnHeader(TEmailHeader *header);
  void WrapAlternativeInMixed();
  void RestructureSinglePart(const std::string &prefix, bool mixed, bool newFirst, bool html,
                             TEmailMsgPart *&newPart);

  TMutexCriticalSection FLock;
  TEmailHeader *FHeader = nullptr;
  std::unique_ptr<TEmailMsgPartCollection> FParts;
  bool FParsed = false;
  bool FParseSubparts = true;
  TLineBlock FRawMail;
  bool FModified = false;
  int32_t FSize = -1;
  // Size and line count of the text as last loaded, to reserve output once.
  size_t FSizeHint = 0;
  size_t FLineCountHint = 0;
  TStringList FEnvelope;
  std::string FFileName;
  bool FSaveOnDestroy = true;
  bool FParseOnLoad = false;
  bool FAddBodyIfMissing = true;
  std::vector<std::unique_ptr<TEmailHeader>> FHeaders;
};

// Cuts long lines of a plain-text body at sentence ends so that mail
// programs show it readably; used for plain-text alternatives made from HTML.
void ReflowPlainText(TStringList &lines);
// Plain-text lines as an HTML body: escaped, "<br>" after every line,
// wrapped in html and body elements.
TStringList PlainTextToHtml(const TStringList &lines);
