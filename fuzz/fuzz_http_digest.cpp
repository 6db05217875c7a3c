// The WWW-Authenticate challenge is read from the server; reading it and
// answering it must never crash, and an answer is always a Digest value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/HttpDigest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 20000) return 0;
  const std::string challenge(reinterpret_cast<const char *>(data), size);
  TDigestChallenge parsed;
  std::string error;
  const bool ok = ParseDigestChallenge(challenge, parsed, error);
  if (ok != error.empty()) abort();  // failure always says why
  if (ok && (parsed.Realm.empty() || parsed.Nonce.empty() || parsed.Qop.empty())) abort();

  std::string cnonce, value, failure;
  int nc = 0;
  const bool answered = ComputeAuthorization(challenge, "user@example.com", "pw", "PROPFIND",
                                             "/svc", cnonce, nc, value, failure);
  if (answered != ok) abort();
  if (answered && (value.rfind("Digest username=\"", 0) != 0 || nc != 1 || cnonce.size() != 32))
    abort();
  return 0;
}
