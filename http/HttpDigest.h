#pragma once
// HTTP Digest authentication with MD5 and qop, as the HTTPMail service asks
// for it in its WWW-Authenticate challenge.
#include <string>

struct TDigestChallenge {
  std::string Realm;
  std::string Nonce;
  std::string Qop;  // the one quality of protection chosen from the offer
};

// Reads realm, nonce and qop out of a challenge. On failure Error lists every
// value that is missing.
bool ParseDigestChallenge(const std::string &challenge, TDigestChallenge &out, std::string &error);

// The Authorization header value answering Challenge. A new client nonce is
// drawn when ClientNonce is empty (and NonceCount restarts); NonceCount then
// rises by one for this answer. Method enters the digest of the request line.
bool ComputeAuthorization(const std::string &challenge, const std::string &userName,
                          const std::string &password, const std::string &method,
                          const std::string &uri, std::string &clientNonce, int &nonceCount,
                          std::string &value, std::string &error);
