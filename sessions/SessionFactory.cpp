#include "sessions/SessionFactory.h"

#include "sessions/SmartWebmailSession.h"

std::unique_ptr<TBasicWebMailSession> CreatePooledSession() {
  return std::make_unique<TSmartWebmailSession>();
}
