#pragma once
// One node of a message's MIME tree: the header that describes it, its body
// (as raw transfer-encoded lines, or decoded bytes, converted lazily between
// the two), its sub-parts and the delimiter line that follows it. Writing an
// unchanged tree reproduces the message text line for line.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/StrUtil.h"
#include "mail/LineReader.h"

class TEmailHeader;
class TEmailMsg;
class TEmailMsgPart;
class TMIMEDecoder;

// Where written message text goes: a line list, or straight into one text
// so that a large message is not held twice as line objects.
class TLineSink {
 public:
  virtual ~TLineSink() = default;
  virtual void Add(std::string_view line) = 0;
};

class TLineListSink : public TLineSink {
 public:
  explicit TLineListSink(TStringList &lines) : FLines(lines) {}
  void Add(std::string_view line) override { FLines.emplace_back(line); }

 private:
  TStringList &FLines;
};

// Every line followed by CR LF.
class TTextSink : public TLineSink {
 public:
  explicit TTextSink(std::string &text) : FText(text) {}
  void Add(std::string_view line) override {
    FText += line;
    FText += "\r\n";
  }

 private:
  std::string &FText;
};

using TPartPredicate = std::function<bool(TEmailMsgPart *part, TEmailHeader *header)>;

class TEmailMsgPartCollection {
 public:
  explicit TEmailMsgPartCollection(int level = 0) : FLevel(level) {}
  ~TEmailMsgPartCollection();
  TEmailMsgPartCollection(const TEmailMsgPartCollection &) = delete;
  TEmailMsgPartCollection &operator=(const TEmailMsgPartCollection &) = delete;

  int Count() const { return int(FItems.size()); }
  TEmailMsgPart *Items(int index) const {
    return index >= 0 && index < Count() ? FItems[size_t(index)].get() : nullptr;
  }
  int IndexOf(const TEmailMsgPart *part) const;
  int Level() const { return FLevel; }

  // New parts described by Header (which the part uses, never owns).
  TEmailMsgPart *AddPart(TEmailHeader *header);
  TEmailMsgPart *InsertPart(int index, TEmailHeader *header);
  // Moves an existing part in (appended, or at Index); Detach hands it out
  // again without freeing it.
  void Attach(std::unique_ptr<TEmailMsgPart> part, int index = -1);
  std::unique_ptr<TEmailMsgPart> Detach(TEmailMsgPart *part);
  void Clear();
  // Puts Part at Index and hands back the part it replaces; out of range,
  // nothing changes and Part is handed back.
  std::unique_ptr<TEmailMsgPart> SetItem(int index, std::unique_ptr<TEmailMsgPart> part);

  // Depth first: a part before its sub-parts, then the next part.
  TEmailMsgPart *FindPart(const TPartPredicate &predicate, TEmailHeader *header) const;

  std::function<void(TEmailMsgPart *)> FOnPartCreated;

 private:
  std::vector<std::unique_ptr<TEmailMsgPart>> FItems;
  int FLevel;
};

// Nesting deeper than this is not split further: what lies below stays the
// text of one part (and is written back unchanged). Mail programs nest a
// handful of levels; the cap bounds the stack and keeps splitting linear in
// the size of the message however the nesting is built.
constexpr int kMaxPartDepth = 50;

class TEmailMsgPart {
 public:
  TEmailMsgPart(TEmailMsgPartCollection *collection, TEmailHeader *header);
  ~TEmailMsgPart();
  TEmailMsgPart(const TEmailMsgPart &) = delete;
  TEmailMsgPart &operator=(const TEmailMsgPart &) = delete;

  TEmailHeader *Header() const { return FHeader; }
  void SetHeader(TEmailHeader *header);
  TEmailMsg *Message() const;
  int Level() const { return FOwnerCollection ? FOwnerCollection->Level() : 0; }
  TEmailMsgPartCollection &Parts() { return FParts; }
  TEmailMsgPartCollection *OwnerCollection() const { return FOwnerCollection; }

  const std::string &BoundaryLine() const { return FBoundaryLine; }
  void SetBoundaryLine(const std::string &line) { FBoundaryLine = line; }
  bool ParseSubpartsFlag() const { return FParseSubparts; }
  void SetParseSubpartsFlag(bool on) { FParseSubparts = on; }

  // The raw (still transfer-encoded) body, rebuilt from the decoded bytes
  // when only those are held. RawLines is the held form itself; FGetRawText
  // copies it into a line list.
  const TLineBlock &RawLines();
  TStringList FGetRawText() { return RawLines().ToList(); }
  // Replaces the raw body; the decoded bytes are dropped with it.
  void SetRawText(TStringList lines);
  bool HasDecodedCache() const { return !FDecodedTextNoSubpartsCache.empty(); }
  // A first part of its collection that shares a multipart header.
  bool IsPreamble() const;
  bool WritesOwnHeader();

  bool WriteTo(TStringList &lines, bool full);
  bool WriteTo(TLineSink &sink, bool full);
  bool WriteBody(TStringList &lines, bool full);
  bool WriteBody(TLineSink &sink, bool full);
  // Takes this part's body off the front of Lines up to Delimiter. True when
  // no further part follows.
  bool SplitAt(TStringList &lines, const std::string &delimiter, bool full = false);
  bool SplitAt(TLineReader &reader, const std::string &delimiter, bool full = false);
  bool ParseSubparts(bool full = false);

  bool DecodeToStringList(TStringList &lines, bool withSubparts);
  bool DecodeToStream(std::string &stream, bool withSubparts);
  bool EncodeFromStringList(const TStringList &lines, bool full);
  bool EncodeFromStream(const std::string &stream, bool full);
  // Bit 0: text was collected; the high byte echoes WithSubparts.
  uint16_t CollectText(TStringList &lines, bool withSubparts);

  // Whether a delimiter line for Delimiter follows in Reader.
  static bool HasDelimiterLine(const TLineReader &reader, const std::string &delimiter);

  static void FindBodyPartsIn(TEmailMsgPart *part, TEmailMsgPart *&plainPart,
                              TEmailMsgPart *&htmlPart);

 private:
  friend class TEmailMsgPartCollection;
  void RawChanged();
  void WriteHeader(TLineSink &sink);
  void WriteRawLines(TLineSink &sink);
  // WrittenHeader: a shared header already written by an ancestor.
  bool WriteTo(TLineSink &sink, bool full, const TEmailHeader *writtenHeader);
  bool WriteBody(TLineSink &sink, bool full, const TEmailHeader *writtenHeader);
  // The body split into sub-parts, reading from Reader.
  void SplitIntoSubparts(TLineReader &reader, bool full);

  TLineBlock FRawText;
  std::string FDecodedTextNoSubpartsCache;
  TEmailMsgPartCollection FParts;
  TEmailHeader *FHeader;
  TEmailMsgPartCollection *FOwnerCollection;
  std::string FBoundaryLine;
  bool FParseSubparts = true;
  // Expires with the part; the header's link back to its owning part checks it.
  std::shared_ptr<const int> FAlive = std::make_shared<const int>(0);
};

// Marker lines written instead of attachment bodies in the short form.
extern const char *const kEncodedAttachmentMarker;
extern const char *const kInlineAttachmentMarker;
