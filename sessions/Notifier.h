#pragma once
// Message boxes raised deep inside a session or server go through this seam:
// the window shows a box (and brings itself to the front), the headless mode
// logs the text, tests record it. Without a notifier the text is dropped.
#include <string>

class TNotifier {
 public:
  virtual ~TNotifier() = default;
  virtual void ShowMessage(const std::string &title, const std::string &text) = 0;
};

// The notifier is used, not owned; the caller keeps it alive until it
// installs another one (or none).
void SetNotifier(TNotifier *notifier);
TNotifier *GetNotifier();
// Shows the message through the installed notifier, if any.
void NotifyUser(const std::string &title, const std::string &text);
