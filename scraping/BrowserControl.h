#pragma once
// The embedded browser the site scraper drives: a Chromium page (Qt
// WebEngine) in a view that never reaches the screen, offering the browser
// operations a person's clicks and reads come down to, and nothing else.
//
// Document elements are handles into a registry that lives in the page; a
// handle whose page has gone away answers an error. Every call is synchronous
// for the caller but keeps the thread's event loop running while the page
// answers, so the gateway's other connections and timers go on meanwhile.
// Failures of the engine are raised as EBrowserError; the scraper turns them
// into its error texts.
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QWidget;
class QWebEngineProfile;
class QWebEngineView;
class QNetworkCookieJar;
class QJsonValue;
class TBrowserPage;
class TBrowserRequestWatch;

class EBrowserError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An element of the page now shown; empty (false) for "none".
struct TBrowserElement {
  std::string Document;
  int Id = 0;
  explicit operator bool() const { return Id > 0; }
};
using TBrowserElements = std::vector<TBrowserElement>;

class TBrowserControl : public QObject {
 public:
  // The view is made a child of Host, which fills with it. Each control has
  // its own off-the-record profile: cookies are never shared between two.
  explicit TBrowserControl(QWidget *host);
  ~TBrowserControl() override;

  // ---- Browser -------------------------------------------------------------
  void Navigate(const std::string &address);
  void Stop();
  // 4 = complete, 3 = interactive (a new document is being built), 1 = a
  // navigation is under way and the old document is still shown, 0 = none.
  int ReadyState();
  std::string LocationUrl() const;
  // The document now shown; none while there is none.
  TBrowserElement Document();

  // ---- Document and collections ----------------------------------------------
  // Kind "links", "forms", "all" (every element inside Scope) or a tag name
  // ("Table", "TR", "TD", "A", "form", "input", "textarea") looked for
  // inside Scope.
  TBrowserElements Collection(const TBrowserElement &scope, const std::string &kind);
  TBrowserElement Body();
  // The elements of a form whose name is Name, in document order.
  TBrowserElements Named(const TBrowserElement &form, const std::string &name);
  std::string Cookie();

  // ---- Elements ---------------------------------------------------------------
  // Property: "id", "className", "title", "innerText", "innerHTML",
  // "outerHTML", "onclick" (the attribute), "href", "name", "type", "value",
  // "bgColor", "align", "tagName". Never fails for an existing element
  // (missing properties read as empty).
  std::string Property(const TBrowserElement &element, const std::string &property);
  // The same property of several elements with one round trip.
  std::vector<std::string> Properties(const TBrowserElements &elements,
                                      const std::string &property);
  // Property: "value" (text), "checked" ("1"/""), "innerText" (text).
  void SetProperty(const TBrowserElement &element, const std::string &property,
                   const std::string &value);
  void Click(const TBrowserElement &element);
  void Focus(const TBrowserElement &element);
  void Submit(const TBrowserElement &form);
  // Runs Script in the page's own world, where the site's functions live.
  void RunScript(const std::string &script);

  // ---- User input ---------------------------------------------------------------
  // A key press delivered to the view as the user's own; the focused element
  // gets it. False when the view cannot take input.
  bool SendKeyPress(int key, const std::string &text);
  // What the page's next file chooser is answered with.
  void SetChosenFile(const std::string &path);

  // ---- Plain download -------------------------------------------------------------
  // A GET of Address carrying the page's cookies (the profile's, and Cookies,
  // "name=value; ..." as a page reads them) and the agent text. True when
  // any byte arrived; Bytes then holds the body exactly.
  bool FetchUrl(const std::string &address, const std::string &cookies, std::string &bytes);

  // ---- Events ---------------------------------------------------------------------
  // A navigation is about to start (top level or a frame).
  std::function<void(const std::string &address, bool topLevel)> OnBeforeNavigate;
  // A top-level navigation ended (loaded, failed or stopped).
  std::function<void(const std::string &address)> OnNavigateComplete;
  // The page asked for something over the network.
  std::function<void()> OnRequest;

  // Longest wait for the page to answer one call.
  int CallLimitMs = 15000;
  static const char *const kAgentText;

  QWebEngineView *View() const { return FView; }
  QWebEngineProfile *Profile() const { return FProfile; }
  // Address texts whose requests fetch nothing (advertisements).
  void SetBlockedAddresses(std::vector<std::string> parts);

 private:
  friend class TBrowserPage;
  QJsonValue Call(const std::string &operation, const std::string &arguments);
  std::string Handle(const TBrowserElement &element) const;
  TBrowserElement ElementFrom(const QJsonValue &value) const;
  TBrowserElements ElementsFrom(const QJsonValue &value) const;
  void LoadStarted();
  void LoadEnded(bool errorPage);
  void MarkDocumentStale(bool stale);

  QPointer<QWidget> FHost;
  QWebEngineProfile *FProfile = nullptr;
  TBrowserPage *FPage = nullptr;
  QWebEngineView *FView = nullptr;
  std::unique_ptr<TBrowserRequestWatch> FWatch;
  QNetworkCookieJar *FCookies = nullptr;
  bool FLoading = false;
  bool FErrorPage = false;
  std::string FChosenFile;
};
