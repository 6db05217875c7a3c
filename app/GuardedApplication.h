#pragma once
// The application object with the program-wide handler for exceptions that
// escape an event handler: Qt cannot carry an exception through its loop, so
// it is caught here and handed to the controller, which logs the first one.
#include <exception>
#include <functional>
#include <string>

#include "foundation/QuorUtil.h"
#include "servers/QuorServer.h"

template <class TBase>
class TGuardedApplication : public TBase {
 public:
  // Message, whether it is a socket error; true ends the application.
  using THandler = std::function<bool(const std::string &message, bool socketError)>;

  TGuardedApplication(int &argc, char **argv) : TBase(argc, argv) {}
  void SetHandler(THandler handler) { FHandler = std::move(handler); }

  bool notify(QObject *receiver, QEvent *event) override {
    try {
      return TBase::notify(receiver, event);
    } catch (const ESocketError &e) {
      Report(e.what(), true);
    } catch (const std::exception &e) {
      Report(e.what(), false);
    } catch (...) {
      Report("unknown exception", false);
    }
    return false;
  }

 private:
  void Report(const std::string &message, bool socketError) {
    if (FHandler && FHandler(message, socketError) && IsMainThread()) TBase::exit(1);
  }

  THandler FHandler;
};
