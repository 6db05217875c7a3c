// The account test from the window, through the program's own POP3 port to
// the stand-in webmail service: the success, each refusal the user can meet,
// and the "CHK" lines it leaves in the log.
#include <QLineEdit>
#include <QPushButton>

#include "WindowFixture.h"
#include "common/StandinProcess.h"
#include "http/HttpRequest.h"

namespace {

class AccountCheckTest : public WindowTest {
 protected:
  static void SetUpTestSuite() { Standin = std::make_unique<TStandinProcess>(); }
  static void TearDownTestSuite() { Standin.reset(); }
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(Standin->Started());
    SetServiceBaseOverride(Standin->Base());
  }
  void TearDown() override {
    WindowTest::TearDown();
    SetServiceBaseOverride("");
  }
  std::string Check(const std::string &user, const std::string &password) {
    Form->UserIdEdit->setText(QString::fromStdString(user));
    Form->PasswordEdit->setText(QString::fromStdString(password));
    Form->CheckAccountButton->click();
    return Form->LastCheckMessage();
  }
  static std::unique_ptr<TStandinProcess> Standin;
};

std::unique_ptr<TStandinProcess> AccountCheckTest::Standin;

}  // namespace

TEST_F(AccountCheckTest, RightAccountIsAccessibleAndEveryStepIsLogged) {
  Create();
  ASSERT_FALSE(Form->UserIdEdit->text().size());
  EXPECT_EQ(Check("demo@hotmail.com", "demo-pass"), "Account is accessible!");
  ASSERT_EQ(Notifier.Texts.size(), 1u) << "the outcome is shown once";
  EXPECT_EQ(Notifier.Texts[0], "Account is accessible!");
  const std::string log = Log();
  const std::string port = std::to_string(Pop);
  for (const std::string &line : {"CHK  001 - Connecting to Brelvane port:" + port,
                                  std::string("CHK  001 - Sending user name:demo@hotmail.com"),
                                  std::string("CHK  001 - Sending Password:*********"),
                                  std::string("CHK  001 - Sending Status request"),
                                  std::string("CHK  001 - Sending Quit request")})
    EXPECT_NE(log.find(line + "\n"), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(log.find("demo-pass"), std::string::npos) << "the password stays out of the log";
  // The test went through the gateway, as a mail program would.
  EXPECT_NE(log.find("POP   001"), std::string::npos);
  EXPECT_TRUE(Form->CheckAccountButton->isEnabled()) << "usable again afterwards";

  EXPECT_EQ(Check("demo@hotmail.com", "demo-pass"), "Account is accessible!");
  EXPECT_NE(Log().find("CHK  002 - Sending Quit request"), std::string::npos);
}

TEST_F(AccountCheckTest, WrongPasswordShowsTheServersRefusal) {
  Create();
  const std::string message = Check("demo@hotmail.com", "not-the-password");
  EXPECT_EQ(message.rfind("Login rejected with:-ERR", 0), 0u) << message;
  EXPECT_TRUE(Notifier.Saw("Login rejected with:-ERR"));
  EXPECT_NE(Log().find("CHK  001 - Login rejected with:-ERR"), std::string::npos);
}

TEST_F(AccountCheckTest, UserIdWithoutDomainOpensNoConnection) {
  Create();
  const std::string message = Check("demo", "demo-pass");
  EXPECT_EQ(message.rfind("Please enter full email address.\r\n", 0), 0u) << message;
  EXPECT_EQ(Form->AccountCheck().CheckCounter, 0) << "not counted as a test";
  EXPECT_EQ(Log().find("POP   "), std::string::npos) << "no connection was made";
  EXPECT_EQ(Log().find("CHK"), std::string::npos);
}

TEST_F(AccountCheckTest, ClosedPortSaysWhereItFailed) {
  Create();
  const int closed = FreePort();
  Form->PopPortMaskEdit->setText(QString::number(closed));  // not applied: no Enter
  const std::string message = Check("demo@hotmail.com", "demo-pass");
  const std::string head = "Failed to connect to Brelvane port:" + std::to_string(closed);
  EXPECT_EQ(message.rfind(head, 0), 0u) << message;
  EXPECT_NE(message.find("\r\nCheck that a personal firewall such as ZoneAlarm is not blocking "
                         "internet access."),
            std::string::npos);
  EXPECT_NE(message.find(". With: "), std::string::npos) << "the socket's own reason follows";
}
