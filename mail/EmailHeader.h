#pragma once
// One RFC 822 header block: the header of a whole message or of one MIME
// part. Fields keep their order of arrival and their folding, so a block that
// nobody edits is written back as it was read.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/QuorCriticalSections.h"
#include "foundation/StrUtil.h"
#include "mail/EmailAddress.h"
#include "mail/LineReader.h"

class TEmailMsg;
class TEmailMsgPart;
class TMIMEDecoder;

// Anomalies noticed while answering questions; nothing in the mail layer
// reads them, they are there for diagnosis.
enum : uint32_t {
  hd_DelimiterMissing = 1,
  hd_ParamNotQuoted = 2,
  hd_NoContentType = 4,
  hd_NoTransferEncoding = 8,
  hd_EncodedMultipart = 16,
  hd_UnknownEncoding = 32,
  hd_FileNameCharRemoved = 64,
  hd_CharsetOnNonText = 128,
  hd_OddDisposition = 256,
};

class TEmailHeader {
 public:
  // A header created for a message is owned by it: use
  // TEmailMsg::CreateHeader. A header without owner belongs to its creator.
  explicit TEmailHeader(TEmailMsg *owner = nullptr);
  ~TEmailHeader();
  TEmailHeader(const TEmailHeader &) = delete;
  TEmailHeader &operator=(const TEmailHeader &) = delete;

  TEmailMsg *Owner() const { return FOwner; }

  void Clear();
  // Parses a header block from the front of Lines. With Consume the block and
  // the empty line after it are removed from Lines. True only when at least
  // one line was read and every line had a colon.
  bool LoadFromLines(TStringList &lines, bool consume);
  // The same, reading from a cursor that is left on the first body line.
  // Message headers may be preceded by empty lines; a part's header may not,
  // since there an empty first line means the part has no header at all.
  bool LoadFromReader(TLineReader &reader, bool skipLeadingEmpty);
  void SaveToLines(TStringList &lines);

  int Count();
  std::string Names(int index);
  std::string Values(int index);

  int IndexOfField(std::string_view name);
  bool GetField(std::string_view name, std::string &value, bool unfold = false);
  bool GetDecodedField(std::string_view name, std::string &value);
  bool GetMainValue(std::string_view name, std::string &value, bool unfold = false);
  bool GetDecodedMainValue(std::string_view name, std::string &value);
  bool SetField(std::string_view name, std::string_view value);
  bool SetMainValue(std::string_view name, std::string_view newMain);
  void GetSubject(std::string &value);
  std::unique_ptr<TEmailAddressCollection> GetToAddresses();
  std::unique_ptr<TEmailAddressCollection> GetCcAddresses();

  bool GetParam(std::string_view fieldName, std::string_view paramName, bool unfold,
                std::string &value);
  bool GetDecodedParam(std::string_view fieldName, std::string_view paramName, std::string &value);
  bool SetParam(std::string_view fieldName, std::string_view paramName, std::string_view value);
  bool SetBoundary(std::string_view boundary);
  void GetBoundaryDelimiter(std::string &delimiter);

  bool IsMainHeader();
  // The first part made with this header (a multipart header is shared by
  // its part and the preamble inside it: the outer one).
  TEmailMsgPart *FindOwningPart();
  // Called by every part made with (or given) this header; the first one
  // still alive is the owning part. Alive expires with the part, so the
  // header never holds on to a part that is gone.
  void NoteOwningPart(TEmailMsgPart *part, const std::shared_ptr<const int> &alive);
  bool IsMultipart();
  bool IsMultipartAlternative();
  bool IsMultipartMixed();
  bool IsText();
  bool IsPlainText();
  bool IsHtml();
  bool IsEmbeddedMessage();
  bool IsEmbeddedMessagePart();
  bool IsAttachment();
  bool IsInline();
  bool IsInlineAttachment();
  bool GetContentType(std::string &type);
  bool GetTransferEncoding(std::string &name);
  // Always delivers a decoder; false when it was not named by the header.
  bool GetDecoderClass(const TMIMEDecoder *&decoderClass);
  bool IsEncoded();
  bool GetFileName(std::string &name);
  bool GetDispositionFileName(std::string &name);
  bool GetTypeNameParam(std::string &name);

  // The block ended at a body line instead of an empty line; writers leave
  // the separator out again so that such a message round-trips unchanged.
  bool NoSeparator() const { return FNoSeparator; }

  uint32_t Diagnostics() const { return FDiagnostics; }
  void AddDiagnostics(uint32_t bits) { FDiagnostics |= bits; }

  // Folded value -> one line: each continuation line loses its first
  // character (the folding blank) and is appended without separator.
  static std::string Unfold(std::string_view value);

 private:
  void Changed();
  bool ParseCollected(TStringList &collected);
  bool FileNameFrom(std::string_view field, std::string_view param, std::string &name);
  bool HasFileNameExtension(std::string_view name);
  bool IsEmbeddedMessageName(const std::string &name);

  TMutexCriticalSection FLock;
  TEmailMsg *FOwner;
  TStringList FNames;
  TStringList FValues;
  // Each field's text as read (empty once the field is changed).
  TStringList FRawFields;
  uint32_t FDiagnostics = 0;
  bool FNoSeparator = false;
  TEmailMsgPart *FOwningPart = nullptr;
  std::weak_ptr<const int> FOwningPartAlive;
};
