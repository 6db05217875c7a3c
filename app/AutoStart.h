#pragma once
// Start with the desktop session: an XDG autostart entry that runs the
// program minimised to the tray. The entry's presence is the setting; there
// is nothing else to remember.
#include <string>

class TAutoStart {
 public:
  // Program: the executable to start. Folder: the autostart folder; empty
  // means $XDG_CONFIG_HOME/autostart (or ~/.config/autostart).
  explicit TAutoStart(std::string program, std::string folder = "");

  std::string EntryPath() const;
  // Whether the entry exists; an entry that cannot be examined counts as absent.
  bool Enabled() const;
  // Writes or removes the entry; false (with Error set) when that failed.
  bool SetEnabled(bool on, std::string *error = nullptr);
  // The Exec= value: the program in double quotes, then " -Minimize".
  std::string ExecLine() const;

  static std::string DefaultFolder();

 private:
  std::string FProgram;
  std::string FFolder;
};
