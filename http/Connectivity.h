#pragma once
// Whether the internet can be reached, so that a failure to reach the
// webmail service can be explained to the user.
#include <string>

// 0 a public web host was reached; 1 its name was looked up without error
// but no address came back; 2 the lookup failed; 3 the connection to the
// address failed; 4 an exception was raised on the way.
int CheckConnectivity();
// Points the probe at another host and port (--probe-host HOST:PORT); an
// empty host restores the built-in one.
void SetConnectivityProbeHost(const std::string &host, int port);
// "host:port" form of the same; false when Text is not of that form.
bool SetConnectivityProbeHostText(const std::string &text);
