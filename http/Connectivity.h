#pragma once
// Whether the internet can be reached, so that a failure to reach the
// webmail service can be explained to the user.
#include <string>

// What the probe of a public web host found.
enum TConnectivityResult : int {
  cy_Reached = 0,        // the host answered
  cy_NoAddress = 1,      // its name was looked up without error but no address came back
  cy_LookupFailed = 2,   // the lookup failed
  cy_ConnectFailed = 3,  // the connection to the address failed
  cy_Exception = 4,      // an exception was raised on the way
};
// One of TConnectivityResult.
int CheckConnectivity();
// Points the probe at another host and port (--probe-host HOST:PORT); an
// empty host restores the built-in one.
void SetConnectivityProbeHost(const std::string &host, int port);
// "host:port" form of the same; false when Text is not of that form.
bool SetConnectivityProbeHostText(const std::string &text);
