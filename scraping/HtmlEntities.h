#pragma once
// HTML escaping of plain text and decoding of character references.
#include <string>
#include <string_view>

#include "foundation/StrUtil.h"

// "<", ">", double quote and "&" become references, a blank after a blank
// becomes "&nbsp;", every byte above 126 "&#<code>;". True when the text
// changed.
bool HtmlEscape(std::string &text);
// Escapes every line and appends "<br>" to it.
void TextLinesToHtml(TStringList &lines);

// Decodes the character references of Text in place; true when it changed.
// A reference may lack its ";" ("&amp" followed by anything).
bool DecodeEntities(std::string &text);
// Decodes one reference ("&lt;", "&#65;"; a missing ";" is supplied). On
// failure Ch is "&" and the result is false.
bool DecodeEntity(std::string_view reference, char &ch);

// The code (160-255, or 34, 38, 60, 62) of one of the hundred HTML 4.01
// references of the Latin-1 range, given its name without "&" and ";"; -1 for
// any other name. Names compare case-sensitively ("Auml" is not "auml").
int Latin1EntityCode(std::string_view name);
