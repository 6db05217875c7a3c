#pragma once
// Keeps the remembered account's user id and password out of plain sight in
// the settings file. This is obscuring, not protection: anyone holding the
// program can undo it. Scrambled texts need only round-trip within Brelvane.
#include <string>

std::string ScrambleValue(const std::string &value);
// Empty when Text cannot be unscrambled (a hand-edited file: wrong length,
// characters outside the scrambled alphabet).
std::string UnscrambleValue(const std::string &text);
