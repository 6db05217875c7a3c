#include "servers/GatewayLogon.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "http/Connectivity.h"

namespace {

const TGatewayLogonTexts kPop3{"-ERR ", "+OK ", true, "Requested payment"};
const TGatewayLogonTexts kSmtp{"535 ", "454 ", false, "requested payment"};

struct TLogged {
  std::string Text;
  uint8_t Detail;
  bool Error;
};

struct TFixture {
  std::vector<TLogged> Lines;
  int Probes = 0;
  TGatewayLog Log() {
    return [this](const std::string &text, uint8_t detail, bool error) {
      Lines.push_back({text, detail, error});
    };
  }
  TGatewayProbe Probe(int result) {
    return [this, result] {
      ++Probes;
      return result;
    };
  }
};

}  // namespace

TEST(GatewayLogon, ClassifiesByLeadingCode) {
  EXPECT_EQ(ClassifyLogonError("", true), lf_None);
  EXPECT_EQ(ClassifyLogonError("503 error 1000", true), lf_ServerDown);
  EXPECT_EQ(ClassifyLogonError("503 error 1000", false), lf_RejectedUserId);
  EXPECT_EQ(ClassifyLogonError("503 no such user", true), lf_RejectedUserId);
  EXPECT_EQ(ClassifyLogonError("401 bad", true), lf_RejectedPassword);
  EXPECT_EQ(ClassifyLogonError("402 pay", true), lf_PaymentRequired);
  // The code counts only at the start of the text.
  EXPECT_EQ(ClassifyLogonError("HTTP 401", true), lf_Unreachable);
  EXPECT_EQ(ClassifyLogonError("timed out", false), lf_Unreachable);
}

TEST(GatewayLogon, RejectionsAreLoggedAndNeverProbe) {
  TFixture f;
  EXPECT_EQ(LogonFailureReply(lf_RejectedUserId, "503 x", "Svc", "a@b", kPop3, f.Log(),
                              f.Probe(cy_Reached)),
            "-ERR Svc rejected userid a@b");
  EXPECT_EQ(LogonFailureReply(lf_RejectedUserId, "503 x", "Svc", "a@b", kSmtp, f.Log(),
                              f.Probe(cy_Reached)),
            "535 Svc rejected userid");
  EXPECT_EQ(LogonFailureReply(lf_RejectedPassword, "401 x", "Svc", "a@b", kSmtp, f.Log(),
                              f.Probe(cy_Reached)),
            "535 Svc rejected password");
  EXPECT_EQ(LogonFailureReply(lf_PaymentRequired, "402 x", "Svc", "a@b", kPop3, f.Log(),
                              f.Probe(cy_Reached)),
            "-ERR Svc Requested payment");
  EXPECT_EQ(LogonFailureReply(lf_PaymentRequired, "402 x", "Svc", "a@b", kSmtp, f.Log(),
                              f.Probe(cy_Reached)),
            "535 Svc requested payment");
  EXPECT_EQ(f.Probes, 0);
  ASSERT_EQ(f.Lines.size(), 5u);
  EXPECT_EQ(f.Lines[0].Text, "Svc login rejected useid \"a@b\" with 503 x");
  EXPECT_EQ(f.Lines[2].Text, "Svc rejected password with:401 x");
  EXPECT_EQ(f.Lines[3].Text, "Svc requested payment with:402 x");
  for (const TLogged &line : f.Lines) {
    EXPECT_EQ(line.Detail, 9);
    EXPECT_TRUE(line.Error);
  }
}

TEST(GatewayLogon, ServerDownAnswersWithoutLogOrProbe) {
  TFixture f;
  EXPECT_EQ(LogonFailureReply(lf_ServerDown, "503 1000", "Svc", "a@b", kPop3, f.Log(),
                              f.Probe(cy_Reached)),
            "+OK Failed to reach Svc. Server is down. (Temporary error: 503 1000)");
  EXPECT_EQ(f.Probes, 0);
  EXPECT_TRUE(f.Lines.empty());
}

TEST(GatewayLogon, EveryProbeResultHasItsWording) {
  const std::pair<int, std::string> cases[] = {
      {cy_Reached, "Failed to reach Svc. Web is active."},
      {cy_NoAddress, "Failed to reach Svc DNS1."},
      {cy_LookupFailed, "Failed to reach Svc DNS2."},
      {cy_ConnectFailed, "Failed to connect to Svc. Cannot access web."},
      {cy_Exception, "Failed to reach Svc internal error."},
      {99, "Failed to reach Svc internal error."},
  };
  for (const auto &[result, wording] : cases) {
    TFixture f;
    EXPECT_EQ(
        LogonFailureReply(lf_Unreachable, "down", "Svc", "a@b", kPop3, f.Log(), f.Probe(result)),
        "+OK " + wording + " (Temporary error: down)");
    EXPECT_EQ(
        LogonFailureReply(lf_Unreachable, "down", "Svc", "a@b", kSmtp, f.Log(), f.Probe(result)),
        "454 " + wording + " (Temporary error: down)");
    EXPECT_EQ(f.Probes, 2);
    EXPECT_TRUE(f.Lines.empty());
  }
}

TEST(GatewayLogon, ThrowingProbeCountsAsException) {
  TFixture f;
  EXPECT_EQ(LogonFailureReply(lf_Unreachable, "down", "Svc", "a@b", kSmtp, f.Log(),
                              []() -> int { throw std::runtime_error("no"); }),
            "454 Failed to reach Svc internal error. (Temporary error: down)");
}

