#pragma once
// Finding where a message text, sent as POP3 lines, needs any change at all.
// A message of megabytes is mostly lines already ending in CR LF with no
// line starting with "."; those go on the wire as they are, so the sender
// only has to find the few places that do not.
#include <cstddef>
#include <string_view>

// Position of the first CR or LF at or after From, or the text's size.
size_t NextLineEnd(std::string_view text, size_t from);

// From a line start From: the end of the longest stretch, no further than
// Limit, made of whole lines that each end in CR LF and hold no other CR or
// LF, where (with DotStuff) no line but the first begins with ".". The end
// is a line start; From itself when the line at From is not such a line.
size_t PlainLinesEnd(std::string_view text, size_t from, size_t limit, bool dotStuff);
