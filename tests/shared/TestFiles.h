#pragma once
// Files as tests read them back.
#include <filesystem>
#include <string>

// The whole file, byte for byte; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path &path);
