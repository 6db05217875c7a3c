#pragma once
#include <memory>

#include "sessions/BasicWebmail.h"

// The session the pool and the servers get for a new account.
std::unique_ptr<TBasicWebMailSession> CreatePooledSession();
