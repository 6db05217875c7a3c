#pragma once
// A message on the webmail site is known by the address of its page
// (".../cgi-bin/getmsg?...&msg=ID&len=SIZE[&msgread=1]"). These read the
// values the rest of the gateway keys on out of such an address.
#include <cstdint>
#include <string>

// The text after "msg=" up to the next "&", quote or apostrophe; empty when
// the address carries none.
std::string MessageIdOf(const std::string &address);
// The number after "len="; 0 when absent or not a number.
int64_t MessageSizeOf(const std::string &address);
// Whether the message had been read when the listing showed it.
bool IsReadAddress(const std::string &address);
