#pragma once
// Plain-text rendering of HTML, used wherever a message body or a web page
// has to be shown or stored as text lines.
#include <sstream>
#include <string>

#include "foundation/StrUtil.h"

// Replaces Lines by their plain-text rendering: script and style content is
// dropped, BR, P, BLOCKQUOTE, DD, LI and the end of the title break the line,
// every other tag is dropped, and character references are decoded.
void HtmlToText(TStringList &lines);

// The same for one text: split into lines, converted, joined again with CR LF
// after every line.
void HtmlToText(std::string &text);

// The same for a memory stream: its whole content (read from the start) is
// replaced by the rendering; the stream is left positioned at its start for
// reading and at its end for writing.
void HtmlToText(std::stringstream &stream);
