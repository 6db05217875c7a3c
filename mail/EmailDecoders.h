#pragma once
// Content-transfer codecs and RFC 2047 encoded-word decoding.
//
// A codec holds no state: each class has exactly one immutable instance
// (Instance()), and callers pass `const TMIMEDecoder *` around as the "codec
// class". Any thread may use any codec at any time.
//
// Byte streams are std::string buffers. Decode appends the decoded bytes to
// the stream it is given; Encode reads the whole stream from its start and
// appends text lines (without line ends) to the list.
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "foundation/StrUtil.h"

// Raised by UUEncodeLine / UUDecodeLine (and caught by Decode/Encode, which
// turn it into the answer false).
class EDecoderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMIMEDecoder {
 public:
  virtual ~TMIMEDecoder() = default;
  TMIMEDecoder(const TMIMEDecoder &) = delete;
  TMIMEDecoder &operator=(const TMIMEDecoder &) = delete;

  // Slot order matters to nobody at run time here, but is kept stable so that
  // every codec reads the same way.
  virtual std::string DecodeLine(const std::string &line) const = 0;
  virtual bool Decode(const TStringList &lines, std::string &stream) const;
  virtual std::string EncodeLine(const std::string &bytes) const = 0;
  virtual bool Encode(const std::string &stream, TStringList &lines) const = 0;
  virtual std::string DecoderName() const = 0;

 protected:
  TMIMEDecoder() = default;
  // The frame every codec's Decode/Encode runs in: the calling thread's
  // progress callback may stop the work before it starts (answer false, as
  // nothing was produced), and anything thrown inside ends the work with the
  // answer false while keeping what was already written.
  static bool RunFramed(const std::function<void()> &work);
};

class TBase64Decoder : public TMIMEDecoder {
 public:
  static const TBase64Decoder &Instance();
  std::string DecodeLine(const std::string &line) const override;
  // Decodes across line boundaries: a base64 body may be wrapped at any
  // width, so a group of four may straddle two lines.
  bool Decode(const TStringList &lines, std::string &stream) const override;
  std::string EncodeLine(const std::string &bytes) const override;
  // Lines of exactly 60 characters, the last one shorter.
  bool Encode(const std::string &stream, TStringList &lines) const override;
  std::string DecoderName() const override { return "base64"; }

 protected:
  TBase64Decoder() = default;
};

class TUUDecoder : public TMIMEDecoder {
 public:
  static const TUUDecoder &Instance();
  std::string DecodeLine(const std::string &line) const override;
  bool Decode(const TStringList &lines, std::string &stream) const override;
  std::string EncodeLine(const std::string &bytes) const override;
  bool Encode(const std::string &stream, TStringList &lines) const override;
  std::string DecoderName() const override { return "uuencode"; }

 protected:
  TUUDecoder() = default;
};

class TXUUDecoder : public TUUDecoder {
 public:
  static const TXUUDecoder &Instance();
  std::string DecoderName() const override { return "x-uuencode"; }

 protected:
  TXUUDecoder() = default;
};

class TQuotedPrintableDecoder : public TMIMEDecoder {
 public:
  static const TQuotedPrintableDecoder &Instance();
  std::string DecodeLine(const std::string &line) const override;
  bool Decode(const TStringList &lines, std::string &stream) const override;
  std::string EncodeLine(const std::string &bytes) const override;
  bool Encode(const std::string &stream, TStringList &lines) const override;
  std::string DecoderName() const override { return "quoted-printable"; }

 protected:
  TQuotedPrintableDecoder() = default;
};

// Used when a part declares no transfer encoding: every operation first picks
// a real codec from the content (PickDecoder) and forwards to it.
class TDefaultDecoder : public TMIMEDecoder {
 public:
  static const TDefaultDecoder &Instance();
  std::string DecodeLine(const std::string &line) const override;
  bool Decode(const TStringList &lines, std::string &stream) const override;
  std::string EncodeLine(const std::string &bytes) const override;
  // Looks at the text already held by Lines (empty through EncodeLinesInPlace,
  // which therefore always encodes as 7bit).
  bool Encode(const std::string &stream, TStringList &lines) const override;
  std::string DecoderName() const override { return "default"; }

  // uuencode, quoted-printable or 7bit, judged from Content.
  static const TMIMEDecoder *PickDecoder(std::string_view content);

 protected:
  TDefaultDecoder() = default;
};

// Identity coding: bytes and lines are the same text.
class TBinaryDecoder : public TMIMEDecoder {
 public:
  static const TBinaryDecoder &Instance();
  std::string DecodeLine(const std::string &line) const override;
  bool Decode(const TStringList &lines, std::string &stream) const override;
  std::string EncodeLine(const std::string &bytes) const override;
  bool Encode(const std::string &stream, TStringList &lines) const override;
  std::string DecoderName() const override { return "binary"; }

 protected:
  TBinaryDecoder() = default;
};

class T7BitDecoder : public TBinaryDecoder {
 public:
  static const T7BitDecoder &Instance();
  std::string DecoderName() const override { return "7bit"; }

 protected:
  T7BitDecoder() = default;
};

class T8BitDecoder : public TBinaryDecoder {
 public:
  static const T8BitDecoder &Instance();
  std::string DecoderName() const override { return "8bit"; }

 protected:
  T8BitDecoder() = default;
};

// The codec whose name equals Name, ignoring case; nullptr when none does.
const TMIMEDecoder *FindDecoder(std::string_view name);
// Whether Decoder is the binary codec or one derived from it (7bit, 8bit):
// such parts need no conversion at all.
bool IsBinaryDecoder(const TMIMEDecoder *decoder);
// Decodes Lines into Result (replaced), split at line ends.
bool DecodeLines(const TMIMEDecoder *decoder, const TStringList &lines, TStringList &result);
// Replaces Lines by their encoded form (each line followed by CR LF first).
bool EncodeLinesInPlace(const TMIMEDecoder *decoder, TStringList &lines);

// One uuencoded line of at most 45 bytes; throws EDecoderError
// "UUEncode: String too long" beyond that.
std::string UUEncodeLine(std::string_view bytes);
// Throws EDecoderError "UUDecode: Incorrect string format" when the length
// character is outside "!".."a".
std::string UUDecodeLine(std::string_view line);

// Plain base64 over a whole buffer (no line breaks), for callers that are not
// MIME bodies (AUTH LOGIN, settings, tests). Decoding skips characters
// outside the alphabet; a final group without its padding gives the whole
// bytes it holds.
std::string Base64EncodeBytes(std::string_view bytes);
std::string Base64DecodeBytes(std::string_view text);

// RFC 2047 decoding of a header value; the bytes are not converted between
// character sets, except ISO-2022-JP, which becomes Shift_JIS.
std::string DecodeHeaderWords(std::string_view text);
// The simpler decoder used on attachment file names (B, Q and U words).
std::string DecodeFileNameWords(std::string_view text);
