#include "scraping/BrowserControl.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QWidget>
#include <algorithm>
#include <mutex>

namespace {

// Lives in each document of the page (on the document object, so that a new
// document starts a new registry with a new token). Elements get small ids;
// a handle carries the token of its document, so a handle kept across a page
// change is refused instead of finding a stranger.
const char *const kRegistry = R"JS(
if (!document.__brv) {
  const reg = {
    token: Math.random().toString(36).slice(2) + '.' + Date.now().toString(36),
    els: [null],
    ids: new Map(),
  };
  reg.put = function (e) {
    if (!e) return 0;
    let i = this.ids.get(e);
    if (i) return i;
    i = this.els.length;
    this.els.push(e);
    this.ids.set(e, i);
    return i;
  };
  reg.h = function (e) { return e ? [this.token, this.put(e)] : null; };
  reg.hs = function (c) { return Array.from(c || [], (e) => this.h(e)); };
  reg.get = function (h) {
    if (!h || h[0] !== this.token) throw new Error('The element belongs to a page that has gone');
    const e = this.els[h[1]];
    if (!e) throw new Error('No such element on the page');
    return e;
  };
  reg.str = function (v) { return v === undefined || v === null ? '' : String(v); };
  reg.attr = function (e, name) { return this.str(e.getAttribute ? e.getAttribute(name) : ''); };
  reg.prop = function (e, p) {
    switch (p) {
      case 'onclick': return this.attr(e, 'onclick');
      case 'name': return this.attr(e, 'name');
      case 'bgColor': return this.attr(e, 'bgcolor');
      case 'align': return this.attr(e, 'align');
      case 'href': {
        // Script links read as written (the scraper runs them itself);
        // ordinary ones as the absolute address the browser resolved.
        const raw = this.attr(e, 'href');
        if (/^"?java/i.test(raw.trim())) return raw;
        return typeof e.href === 'string' ? e.href : raw;
      }
      default: return this.str(e[p]);
    }
  };
  reg.ops = {
    state: () => [reg.token, document.readyState, !!document.__brvStale],
    stale: (on) => { if (on) document.__brvStale = true; else delete document.__brvStale; return true; },
    document: () => (document.documentElement ? reg.h(document) : null),
    body: () => reg.h(document.body),
    collection: (h, kind) => {
      const scope = reg.get(h);
      const k = kind.toLowerCase();
      if (k === 'links') return reg.hs(document.links);
      if (k === 'forms') return reg.hs(document.forms);
      if (k === 'all') return reg.hs(scope.getElementsByTagName('*'));
      return reg.hs(scope.getElementsByTagName(kind));
    },
    named: (h, name) => {
      const form = reg.get(h);
      const all = Array.from(form.elements || form.getElementsByTagName('*'));
      return reg.hs(all.filter((e) => e.getAttribute('name') === name));
    },
    prop: (h, p) => reg.prop(reg.get(h), p),
    props: (hs, p) => hs.map((h) => reg.prop(reg.get(h), p)),
    set: (h, p, v) => {
      const e = reg.get(h);
      if (p === 'checked') e.checked = !!v; else e[p] = v;
      return true;
    },
    click: (h) => { reg.get(h).click(); return true; },
    focus: (h) => { reg.get(h).focus(); return true; },
    submit: (h) => { HTMLFormElement.prototype.submit.call(reg.get(h)); return true; },
    cookie: () => document.cookie,
    run: (script) => { (0, eval)(script); return true; },
  };
  Object.defineProperty(document, '__brv', { value: reg });
}
)JS";

constexpr int kStateLimitMs = 2000;

QString Q(const std::string &text) {
  return QString::fromLatin1(text.data(), qsizetype(text.size()));
}
std::string S(const QString &text) { return text.toLatin1().toStdString(); }

QString CallScript(const std::string &operation, const QString &arguments) {
  return QString::fromLatin1(kRegistry) +
         QStringLiteral(
             ";(function () { try { return JSON.stringify({ ok: document.__brv.ops.%1.apply(null, "
             "%2) }); } catch (e) { return JSON.stringify({ error: String((e && e.message) || e) "
             "}); } })()")
             .arg(Q(operation), arguments);
}

QString ArgumentsJson(const QJsonArray &arguments) {
  return QString::fromUtf8(QJsonDocument(arguments).toJson(QJsonDocument::Compact));
}

}  // namespace

const char *const TBrowserControl::kAgentText = "compatible; MSIE 6.0; Windows NT 5.1; SV1";

// Sees every request the page makes, on the engine's IO thread. It blocks
// advertisements there and tells the control on its own thread.
class TBrowserRequestWatch : public QWebEngineUrlRequestInterceptor {
 public:
  explicit TBrowserRequestWatch(TBrowserControl *control) : FControl(control) {}
  void Detach() {
    std::lock_guard<std::mutex> lock(FMutex);
    FControl = nullptr;
  }
  void SetBlocked(std::vector<std::string> parts) {
    std::lock_guard<std::mutex> lock(FMutex);
    FBlocked = std::move(parts);
  }
  void interceptRequest(QWebEngineUrlRequestInfo &info) override {
    const std::string address = S(info.requestUrl().toString(QUrl::FullyEncoded));
    std::lock_guard<std::mutex> lock(FMutex);
    bool block = address.find("ADSAdClient") != std::string::npos;
    for (const std::string &part : FBlocked)
      if (!part.empty() && address.find(part) != std::string::npos) block = true;
    if (block) info.block(true);
    if (!FControl) return;
    TBrowserControl *control = FControl;
    QMetaObject::invokeMethod(
        control,
        [control] {
          if (control->OnRequest) control->OnRequest();
        },
        Qt::QueuedConnection);
  }

 private:
  std::mutex FMutex;
  TBrowserControl *FControl;
  std::vector<std::string> FBlocked;
};

// The page's own decisions: no pop-ups, no dialog boxes, files chosen by the
// program, and every navigation reported before it starts.
class TBrowserPage : public QWebEnginePage {
 public:
  TBrowserPage(QWebEngineProfile *profile, TBrowserControl *control)
      : QWebEnginePage(profile, nullptr), FControl(control) {}

 protected:
  bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override {
    if (FControl->OnBeforeNavigate)
      FControl->OnBeforeNavigate(S(url.toString(QUrl::FullyEncoded)), isMainFrame);
    return true;
  }
  QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
  QStringList chooseFiles(FileSelectionMode, const QStringList &, const QStringList &) override {
    if (FControl->FChosenFile.empty()) return {};
    return {QString::fromLocal8Bit(FControl->FChosenFile.c_str())};
  }
  void javaScriptAlert(const QUrl &, const QString &) override {}
  bool javaScriptConfirm(const QUrl &, const QString &) override { return true; }
  bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override {
    return false;
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                const QString &) override {}

 private:
  TBrowserControl *FControl;
};

TBrowserControl::TBrowserControl(QWidget *host) : QObject(nullptr), FHost(host) {
  // No storage name: off the record, cookies in memory and this profile's
  // alone.
  FProfile = new QWebEngineProfile(this);
  QWebEngineSettings *settings = FProfile->settings();
  settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
  settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
  FWatch = std::make_unique<TBrowserRequestWatch>(this);
  FProfile->setUrlRequestInterceptor(FWatch.get());

  // The plain download carries the same cookies as the page.
  auto *network = new QNetworkAccessManager(this);
  FCookies = new QNetworkCookieJar(network);
  network->setCookieJar(FCookies);
  network->setObjectName("download");
  QWebEngineCookieStore *store = FProfile->cookieStore();
  connect(store, &QWebEngineCookieStore::cookieAdded, this,
          [this](const QNetworkCookie &cookie) { FCookies->insertCookie(cookie); });
  connect(store, &QWebEngineCookieStore::cookieRemoved, this,
          [this](const QNetworkCookie &cookie) { FCookies->deleteCookie(cookie); });
  // A download the page starts is never accepted, so nothing is saved.
  connect(FProfile, &QWebEngineProfile::downloadRequested, this, [](auto *) {});

  FPage = new TBrowserPage(FProfile, this);
  QWebEngineScript registry;
  registry.setName("element-registry");
  registry.setSourceCode(QString::fromLatin1(kRegistry));
  registry.setInjectionPoint(QWebEngineScript::DocumentCreation);
  registry.setWorldId(QWebEngineScript::MainWorld);
  registry.setRunsOnSubFrames(false);
  FPage->scripts().insert(registry);
  connect(FPage, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
    switch (info.status()) {
      case QWebEngineLoadingInfo::LoadStartedStatus:
        LoadStarted();
        break;
      case QWebEngineLoadingInfo::LoadFailedStatus:
        LoadEnded(info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain);
        break;
      default:
        LoadEnded(false);
        break;
    }
  });

  FView = new QWebEngineView(host);
  FView->setPage(FPage);
  FView->setAttribute(Qt::WA_DontShowOnScreen);
  if (host) {
    auto *layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FView);
  }
}

TBrowserControl::~TBrowserControl() {
  OnBeforeNavigate = nullptr;
  OnNavigateComplete = nullptr;
  OnRequest = nullptr;
  FWatch->Detach();
  FPage->disconnect(this);
  FProfile->setUrlRequestInterceptor(nullptr);
  // The page must go before its profile, and the view before the page.
  delete FView;
  delete FPage;
  delete FProfile;
}

void TBrowserControl::SetBlockedAddresses(std::vector<std::string> parts) {
  FWatch->SetBlocked(std::move(parts));
}

void TBrowserControl::LoadStarted() {
  FLoading = true;
  FErrorPage = false;
  MarkDocumentStale(true);
}

void TBrowserControl::LoadEnded(bool errorPage) {
  FLoading = false;
  FErrorPage = errorPage;
  MarkDocumentStale(false);
  if (OnNavigateComplete) OnNavigateComplete(LocationUrl());
}

// A navigation keeps the old document on show until the answer arrives; the
// mark tells ReadyState that what it sees is on its way out. Sent without
// waiting, so that it reaches the old document before the new one replaces it.
void TBrowserControl::MarkDocumentStale(bool stale) {
  FPage->runJavaScript(CallScript("stale", ArgumentsJson({stale})), QWebEngineScript::MainWorld);
}

QJsonValue TBrowserControl::Call(const std::string &operation, const std::string &arguments) {
  if (!FPage) throw EBrowserError("The browser is gone");
  struct TPending {
    bool Done = false;
    QString Answer;
    QEventLoop *Loop = nullptr;
  };
  auto pending = std::make_shared<TPending>();
  QEventLoop loop;
  pending->Loop = &loop;
  FPage->runJavaScript(CallScript(operation, Q(arguments)), QWebEngineScript::MainWorld,
                       [pending](const QVariant &answer) {
                         pending->Answer = answer.toString();
                         pending->Done = true;
                         if (pending->Loop) pending->Loop->quit();
                       });
  if (!pending->Done) {
    QPointer<TBrowserControl> alive(this);
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(CallLimitMs);
    loop.exec();
    pending->Loop = nullptr;
    if (!alive) throw EBrowserError("The browser was closed while waiting");
  }
  pending->Loop = nullptr;
  if (!pending->Done) throw EBrowserError("The page did not answer");
  const QJsonObject answer = QJsonDocument::fromJson(pending->Answer.toUtf8()).object();
  if (answer.contains("error")) throw EBrowserError(S(answer["error"].toString()));
  if (!answer.contains("ok")) throw EBrowserError("The page gave no answer");
  return answer["ok"];
}

std::string TBrowserControl::Handle(const TBrowserElement &element) const {
  if (!element) throw EBrowserError("No element");
  return S(ArgumentsJson({Q(element.Document), element.Id}));
}

TBrowserElement TBrowserControl::ElementFrom(const QJsonValue &value) const {
  const QJsonArray handle = value.toArray();
  TBrowserElement element;
  if (handle.size() == 2) {
    element.Document = S(handle[0].toString());
    element.Id = handle[1].toInt();
  }
  return element;
}

TBrowserElements TBrowserControl::ElementsFrom(const QJsonValue &value) const {
  TBrowserElements elements;
  for (const QJsonValue &item : value.toArray()) elements.push_back(ElementFrom(item));
  return elements;
}

void TBrowserControl::Navigate(const std::string &address) { FPage->load(QUrl(Q(address))); }

void TBrowserControl::Stop() { FPage->triggerAction(QWebEnginePage::Stop); }

int TBrowserControl::ReadyState() {
  QJsonArray state;
  // Polled every tenth of a second: an answer lost to a page being
  // replaced must not hold a wait for long.
  const int limit = CallLimitMs;
  CallLimitMs = std::min(limit, kStateLimitMs);
  try {
    state = Call("state", "[]").toArray();
    CallLimitMs = limit;
  } catch (const EBrowserError &) {
    CallLimitMs = limit;
    return 0;
  }
  if (state.size() != 3) return 0;
  if (state[2].toBool()) return 1;
  const QString readyState = state[1].toString();
  if (readyState == "complete") return FLoading ? 3 : 4;
  if (readyState == "interactive" || readyState == "loading") return 3;
  return 0;
}

std::string TBrowserControl::LocationUrl() const {
  return FPage ? S(FPage->url().toString(QUrl::FullyEncoded)) : std::string();
}

TBrowserElement TBrowserControl::Document() {
  // Chromium's own page about an address it could not reach is no document
  // of the site.
  if (FErrorPage) return {};
  // Nothing asked for yet: the engine's empty start page is no document.
  if (FPage->url().isEmpty()) return {};
  try {
    return ElementFrom(Call("document", "[]"));
  } catch (const EBrowserError &) {
    return {};
  }
}

TBrowserElements TBrowserControl::Collection(const TBrowserElement &scope,
                                             const std::string &kind) {
  const std::string handle = Handle(scope);
  return ElementsFrom(
      Call("collection", "[" + handle + "," + S(ArgumentsJson({Q(kind)})).substr(1)));
}

TBrowserElement TBrowserControl::Body() { return ElementFrom(Call("body", "[]")); }

TBrowserElements TBrowserControl::Named(const TBrowserElement &form, const std::string &name) {
  return ElementsFrom(
      Call("named", "[" + Handle(form) + "," + S(ArgumentsJson({Q(name)})).substr(1)));
}

std::string TBrowserControl::Cookie() { return S(Call("cookie", "[]").toString()); }

std::string TBrowserControl::Property(const TBrowserElement &element, const std::string &property) {
  return S(Call("prop", "[" + Handle(element) + "," + S(ArgumentsJson({Q(property)})).substr(1))
               .toString());
}

std::vector<std::string> TBrowserControl::Properties(const TBrowserElements &elements,
                                                     const std::string &property) {
  std::vector<std::string> values;
  if (elements.empty()) return values;
  std::string handles = "[";
  for (const TBrowserElement &element : elements) {
    if (handles.size() > 1) handles += ",";
    handles += Handle(element);
  }
  handles += "]";
  for (const QJsonValue &value :
       Call("props", "[" + handles + "," + S(ArgumentsJson({Q(property)})).substr(1)).toArray())
    values.push_back(S(value.toString()));
  if (values.size() != elements.size()) throw EBrowserError("The page lost some elements");
  return values;
}

void TBrowserControl::SetProperty(const TBrowserElement &element, const std::string &property,
                                  const std::string &value) {
  const QJsonValue jsonValue =
      property == "checked" ? QJsonValue(!value.empty()) : QJsonValue(Q(value));
  Call("set", "[" + Handle(element) + "," + S(ArgumentsJson({Q(property), jsonValue})).substr(1));
}

void TBrowserControl::Click(const TBrowserElement &element) {
  Call("click", "[" + Handle(element) + "]");
}

void TBrowserControl::Focus(const TBrowserElement &element) {
  Call("focus", "[" + Handle(element) + "]");
}

void TBrowserControl::Submit(const TBrowserElement &form) {
  Call("submit", "[" + Handle(form) + "]");
}

void TBrowserControl::RunScript(const std::string &script) {
  Call("run", S(ArgumentsJson({Q(script)})));
}

bool TBrowserControl::SendKeyPress(int key, const std::string &text) {
  QWidget *target = FView ? FView->focusProxy() : nullptr;
  if (!target) return false;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, Q(text));
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, Q(text));
  QCoreApplication::sendEvent(target, &press);
  QCoreApplication::sendEvent(target, &release);
  return true;
}

void TBrowserControl::SetChosenFile(const std::string &path) { FChosenFile = path; }

bool TBrowserControl::FetchUrl(const std::string &address, const std::string &cookies,
                               std::string &bytes) {
  bytes.clear();
  auto *network = findChild<QNetworkAccessManager *>("download");
  if (!network) return false;
  const QUrl url(Q(address));
  QList<QNetworkCookie> pieces;
  size_t start = 0;
  while (start < cookies.size()) {
    size_t end = cookies.find("; ", start);
    if (end == std::string::npos) end = cookies.size();
    const std::string piece = cookies.substr(start, end - start);
    const size_t equals = piece.find('=');
    if (equals != std::string::npos && equals > 0)
      pieces.append(QNetworkCookie(QByteArray::fromStdString(piece.substr(0, equals)),
                                   QByteArray::fromStdString(piece.substr(equals + 1))));
    start = end + 2;
  }
  if (!pieces.isEmpty()) FCookies->setCookiesFromUrl(pieces, url);
  QNetworkRequest request(url);
  request.setRawHeader("User-Agent", kAgentText);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  QNetworkReply *reply = network->get(request);
  QEventLoop loop;
  connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer limit;
  limit.setSingleShot(true);
  connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  limit.start(120000);
  if (!reply->isFinished()) loop.exec();
  if (!reply->isFinished()) reply->abort();
  const QByteArray body = reply->readAll();
  const bool ok = reply->error() == QNetworkReply::NoError;
  reply->deleteLater();
  if (!ok) return false;
  bytes.assign(body.constData(), size_t(body.size()));
  return !bytes.empty();
}
