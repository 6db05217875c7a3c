#pragma once
// The platform's table of MIME types and file extensions (/etc/mime.types),
// read once on first use.
#include <string>
#include <string_view>

// Extension registered for Type, with its leading dot. False, and ".txt" in
// Ext, when the platform knows none.
bool MimeTypeToExtension(std::string_view type, std::string &ext);
// Type registered for Ext (with or without its leading dot);
// "application/octet-stream" when the platform knows none.
std::string ExtensionToMimeType(std::string_view ext);
// Replaces the table with the contents of another file (tests, other
// platforms). An unreadable file leaves an empty table.
void LoadMimeTypesFile(const std::string &path);
