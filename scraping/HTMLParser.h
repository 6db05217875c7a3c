#pragma once
// A flat, forgiving tokenizer: markup text becomes a list of tags and text
// runs, with no tree and no rejection of anything. The HTTPMail answers and
// every HTML body converted to text pass through it, so it must stay linear
// on whatever a server or a mail sender hands it.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/StrUtil.h"

class THTMLTag;
class THTMLText;

class THTMLToken {
 public:
  virtual ~THTMLToken() = default;
  THTMLToken(const THTMLToken &) = delete;
  THTMLToken &operator=(const THTMLToken &) = delete;

  // The text as written (a tag's text between "<" and ">").
  std::string Raw;

  bool IsTag() const { return FIsTag; }
  THTMLTag *AsTag();
  const THTMLTag *AsTag() const;
  THTMLText *AsText();
  const THTMLText *AsText() const;

 protected:
  THTMLToken(std::string raw, bool isTag) : Raw(std::move(raw)), FIsTag(isTag) {}

 private:
  bool FIsTag;
};

class THTMLParam {
 public:
  explicit THTMLParam(std::string raw);
  std::string Raw;
  // Upper-cased; the whole text when there is no "=".
  std::string Name;
  // After the first "=", with one pair of enclosing double quotes removed.
  std::string Value;
};

class THTMLTag : public THTMLToken {
 public:
  explicit THTMLTag(std::string raw);
  // The text up to the first blank, upper-cased; "/TD" for a closing tag.
  std::string Name;
  std::vector<THTMLParam> Params;

  // The first attribute of that name (compared upper-cased), or null.
  const THTMLParam *FindParam(std::string_view name) const;
};

class THTMLText : public THTMLToken {
 public:
  explicit THTMLText(std::string raw);
  // Raw without line feeds and with its character references decoded.
  std::string Text;
};

using THTMLTokenList = std::vector<std::unique_ptr<THTMLToken>>;
// Tokens borrowed from a THTMLTokenList.
using THTMLTokenRefs = std::vector<THTMLToken *>;

class THTMLParser {
 public:
  // The input, one line per entry.
  TStringList Lines;
  THTMLTokenList Tokens;

  // Appends the tokens of Lines to Tokens.
  void Parse();
  // Convenience: splits Text into Lines and parses them.
  void Parse(std::string_view text);

 private:
  void EmitText();
  void EmitTag();
  void AppendTagPiece(std::string_view piece);

  std::string FPendingText;
  std::string FPendingTag;
  bool FInTag = false;
  // A line ended inside a tag whose text was not empty: the next piece of
  // the tag is joined with one blank.
  bool FTagLineBreak = false;
};

// From Index on, finds a tag named OpenName and collects the tokens after it
// into Out (emptied first) up to a tag named CloseName, on which Index is left.
// Names compare upper-cased. False when either tag is missing; tokens
// collected before running off the end stay in Out.
bool FindBetween(std::string_view openName, std::string_view closeName,
                 const THTMLTokenList &tokens, THTMLTokenRefs &out, size_t &index);
// FindBetween with the closing name "/" + Name.
bool FindElement(std::string_view name, const THTMLTokenList &tokens, size_t &index,
                 THTMLTokenRefs &out);
// Appends the decoded text of each text token inside the element to Text and
// returns how many there were; 0 (Text untouched) when the element is absent.
int ElementText(std::string_view name, const THTMLTokenList &tokens, std::string &text,
                size_t &index);
