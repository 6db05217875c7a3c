#include "app/AutoStart.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr const char *kEntryName = "BrelvaneRed.desktop";

// Inside a quoted Exec= argument ", `, $ and \ are escaped with a
// backslash, which is doubled once more because the whole value is also a
// desktop-entry string.
std::string QuoteExecArgument(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$') {
      out += "\\\\";
      out += c;
    } else if (c == '\\') {
      out += "\\\\\\\\";
    } else if (c == '%') {
      out += "%%";  // field codes start with a percent sign
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

TAutoStart::TAutoStart(std::string program, std::string folder)
    : FProgram(std::move(program)), FFolder(folder.empty() ? DefaultFolder() : std::move(folder)) {}

std::string TAutoStart::DefaultFolder() {
  const char *config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config && fs::path(config).is_absolute())
    return (fs::path(config) / "autostart").string();
  const char *home = std::getenv("HOME");
  return (fs::path(home && *home ? home : "/tmp") / ".config" / "autostart").string();
}

std::string TAutoStart::EntryPath() const { return (fs::path(FFolder) / kEntryName).string(); }

std::string TAutoStart::ExecLine() const { return QuoteExecArgument(FProgram) + " -Minimize"; }

bool TAutoStart::Enabled() const {
  std::error_code ec;
  return fs::is_regular_file(EntryPath(), ec);
}

bool TAutoStart::SetEnabled(bool on, std::string *error) {
  std::error_code ec;
  if (!on) {
    fs::remove(EntryPath(), ec);
    if (ec && error) *error = ec.message();
    return !ec;
  }
  fs::create_directories(FFolder, ec);
  // Written beside and renamed over, so a session starting meanwhile never
  // reads half an entry.
  const std::string temporary = EntryPath() + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Brelvane\n"
        << "Comment=POP3 and SMTP gateway to a webmail account\n"
        << "Exec=" << ExecLine() << "\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.close();
    if (!out) {
      if (error) *error = "cannot write " + temporary;
      fs::remove(temporary, ec);
      return false;
    }
  }
  fs::rename(temporary, EntryPath(), ec);
  if (ec) {
    if (error) *error = ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}
