#include "sessions/SessionFactory.h"

#include "sessions/HttpMailSession.h"

std::unique_ptr<TBasicWebMailSession> CreatePooledSession() {
  return std::make_unique<THttpMailSession>();
}
