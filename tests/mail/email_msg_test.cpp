#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/QuorUtil.h"
#include "mail/EmailMsg.h"
#include "shared/TestFiles.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<TEmailMsg> NewMessage(const std::string &text, bool addBody = false) {
  auto msg = std::make_unique<TEmailMsg>();
  msg->SetSaveOnDestroy(false);
  msg->SetAddBodyIfMissing(addBody);
  msg->Text(text);
  return msg;
}

std::string Written(TEmailMsg &msg) {
  std::string text;
  msg.GetRawMailText(text, true);
  return text;
}

std::string Delimiter(TEmailHeader *header) {
  std::string d;
  header->GetBoundaryDelimiter(d);
  return d;
}

// A folder of its own under the temporary folder, removed afterwards.
class TTempFolder {
 public:
  TTempFolder() {
    FPath = fs::temp_directory_path() /
            ("brelvane-msg-test-" + std::to_string(::getpid()) + "-" + std::to_string(FCounter++));
    fs::create_directories(FPath);
  }
  ~TTempFolder() { fs::remove_all(FPath); }
  std::string File(const std::string &name) const { return (FPath / name).string(); }

 private:
  fs::path FPath;
  static inline int FCounter = 0;
};

// What Python's email package sees in a message: one line per part of its
// walk, "<type>|<filename or ->|<decoded payload with line ends as \n>".
std::string PythonView(const std::string &text) {
  TTempFolder folder;
  std::string path = folder.File("m.eml");
  std::ofstream(path, std::ios::binary) << text;
  std::string command =
      "python3 -c \"import email,sys\n"
      "m=email.message_from_bytes(open(sys.argv[1],'rb').read())\n"
      "for p in m.walk():\n"
      "  d=b'' if p.is_multipart() else (p.get_payload(decode=True) or b'')\n"
      "  print(p.get_content_type()+'|'+(p.get_filename() or '-')+'|'+"
      "d.decode('latin-1').replace('\\r','').replace('\\n','\\\\\\\\n'))\n"
      "print('defects', sum(len(p.defects) for p in m.walk()))\" " +
      path;
  std::string out;
  if (FILE *pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

}  // namespace

TEST(EmailMsg, UnparsedTextIsHandedBackUnchangedAndParsedTextRebuilt) {
  std::string text =
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\n"
      "hi\r\n--B--\r\nepilogue\r\n";
  auto msg = NewMessage(text);
  TStringList lines;
  EXPECT_TRUE(msg->GetRawMail(lines, true));
  EXPECT_FALSE(msg->Parsed());
  EXPECT_EQ(JoinLines(lines), text);
  EXPECT_EQ(msg->Size(), int(text.size()) - 2);

  msg->Header();
  msg->GetRawMail(lines, true);
  EXPECT_EQ(JoinLines(lines), text.substr(0, text.find("epilogue")));
  // The short form parses first.
  auto shortForm = NewMessage(text);
  shortForm->GetRawMail(lines, false);
  EXPECT_TRUE(shortForm->Parsed());
}

TEST(EmailMsg, AttachmentTurnsASingleTextMessageIntoMultipartMixed) {
  auto msg = NewMessage(
      "Subject: s\r\nContent-Type: text/plain; charset=us-ascii\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\nbody =3D text\r\n");
  TEmailMsgPart *added = msg->AddAttachment({"AAEC"});
  ASSERT_NE(added, nullptr);
  added->Header()->SetField("Content-Type", "application/octet-stream");
  added->Header()->SetField("Content-Transfer-Encoding", "base64");
  EXPECT_TRUE(msg->Modified());

  std::string d = Delimiter(msg->Header());
  ASSERT_EQ(d.substr(0, 11), "------Quor1");
  ASSERT_EQ(d.size(), 2u + 9u + 20u);
  std::string expected =
      "Subject: s\r\nContent-Type: multipart/mixed; boundary=\"" + d.substr(2) + "\"\r\n\r\n" +
      TEmailMsg::kPreambleText + "\r\n\r\n" + d + "\r\n" +
      "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: "
      "quoted-printable\r\n\r\n"
      "body =3D text\r\n" +
      d +
      "\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "AAEC\r\n" +
      d + "--\r\n";
  EXPECT_EQ(Written(*msg), expected);

  // A second attachment goes after the first; the closing line moves with it.
  msg->AddAttachment({"second"});
  ASSERT_EQ(msg->Parts().Count(), 4);
  EXPECT_EQ(msg->Parts().Items(2)->BoundaryLine(), d);
  EXPECT_EQ(msg->Parts().Items(3)->BoundaryLine(), d + "--");

  std::string python = PythonView(Written(*msg));
  EXPECT_NE(python.find("multipart/mixed|-|"), std::string::npos) << python;
  EXPECT_NE(python.find("text/plain|-|body = text"), std::string::npos) << python;
  EXPECT_NE(python.find(std::string("application/octet-stream|-|") + "\x00\x01\x02"),
            std::string::npos);
  EXPECT_NE(python.find("defects 0"), std::string::npos) << python;
}

TEST(EmailMsg, AttachmentsNeverBecomeAnAlternative) {
  auto msg = NewMessage(
      "Subject: s\r\nContent-Type: multipart/alternative; boundary=\"A\"\r\n\r\n--A\r\n"
      "Content-Type: text/plain\r\n\r\nplain\r\n--A\r\nContent-Type: "
      "text/html\r\n\r\n<b>html</b>\r\n"
      "--A--\r\n");
  TEmailMsgPart *added = msg->AddAttachment({"JVBERg=="});
  added->Header()->SetField("Content-Type", "application/pdf; name=\"a.pdf\"");
  added->Header()->SetField("Content-Transfer-Encoding", "base64");
  EXPECT_TRUE(msg->Header()->IsMultipartMixed());
  ASSERT_EQ(msg->Parts().Count(), 3);
  EXPECT_TRUE(msg->Parts().Items(1)->Header()->IsMultipartAlternative());
  EXPECT_EQ(msg->Parts().Items(2), added);

  std::string python = PythonView(Written(*msg));
  EXPECT_NE(python.find("multipart/mixed|-|\nmultipart/alternative|-|\ntext/plain|-|plain\n"
                        "text/html|-|<b>html</b>\napplication/pdf|a.pdf|%PDF"),
            std::string::npos)
      << python;
  EXPECT_NE(python.find("defects 0"), std::string::npos) << python;
}

TEST(EmailMsg, HtmlAlternativeFollowsThePlainText) {
  auto msg = NewMessage("Subject: s\r\n\r\nfirst <line> & \"more\"\r\ntwo  spaces caf\xE9\r\n");
  TEmailMsgPart *html = msg->AddHtmlTextAlternative();
  ASSERT_NE(html, nullptr);
  EXPECT_TRUE(msg->Header()->IsMultipartAlternative());
  ASSERT_EQ(msg->Parts().Count(), 3);
  EXPECT_TRUE(msg->Parts().Items(1)->Header()->IsPlainText());
  EXPECT_EQ(msg->Parts().Items(2), html);
  EXPECT_EQ(html->FGetRawText(),
            (TStringList{"<html><body>", "first &lt;line&gt; &amp; &quot;more&quot;<br>",
                         "two &nbsp;spaces caf&#233;<br>", "</body></html>"}));
  std::string d = Delimiter(msg->Header());
  EXPECT_EQ(d.substr(0, 11), "------Quor9");
  EXPECT_EQ(msg->Parts().Items(0)->BoundaryLine(), d);
  EXPECT_EQ(msg->Parts().Items(1)->BoundaryLine(), d);
  EXPECT_EQ(msg->Parts().Items(2)->BoundaryLine(), d + "--");
  // Nothing to add twice.
  EXPECT_EQ(msg->FAddHtmlTextPart(), nullptr);
  EXPECT_EQ(msg->AddPlainTextPart(), nullptr);

  std::string python = PythonView(Written(*msg));
  EXPECT_NE(python.find("multipart/alternative|-|\ntext/plain|-|first <line>"), std::string::npos)
      << python;
  EXPECT_NE(python.find("text/html|-|<html><body>"), std::string::npos) << python;
  EXPECT_NE(python.find("defects 0"), std::string::npos) << python;
}

TEST(EmailMsg, PlainAlternativeIsMadeFromHtmlInsideAMixedMessage) {
  auto msg = NewMessage(
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: text/html\r\n\r\n<p>Hello <b>world</b></p>\r\n--B\r\n"
      "Content-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"a.pdf\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n--B--\r\n");
  TEmailMsgPart *plain = msg->EnsureAlternatives();
  ASSERT_NE(plain, nullptr);
  TEmailMsgPartCollection &top = msg->Parts();
  ASSERT_EQ(top.Count(), 3);
  TEmailMsgPart *wrapper = top.Items(1);
  EXPECT_TRUE(wrapper->Header()->IsMultipartAlternative());
  ASSERT_EQ(wrapper->Parts().Count(), 3);
  EXPECT_EQ(wrapper->Parts().Items(1), plain);
  EXPECT_TRUE(wrapper->Parts().Items(2)->Header()->IsHtml());
  EXPECT_TRUE(top.Items(2)->Header()->IsAttachment());
  EXPECT_EQ(Delimiter(wrapper->Header()).substr(0, 11), "------Quor4");
  EXPECT_NE(JoinLines(plain->FGetRawText()).find("Hello world"), std::string::npos);

  std::string python = PythonView(Written(*msg));
  size_t alternative = python.find("multipart/mixed|-|\nmultipart/alternative|-|\ntext/plain|-|");
  EXPECT_NE(alternative, std::string::npos) << python;
  EXPECT_LT(python.find("Hello world", alternative), python.find("text/html|")) << python;
  EXPECT_NE(python.find("text/html|-|<p>Hello"), std::string::npos) << python;
  EXPECT_NE(python.find("application/pdf|a.pdf|%PDF"), std::string::npos) << python;
  EXPECT_NE(python.find("defects 0"), std::string::npos) << python;

  // Nothing is missing any more.
  EXPECT_EQ(msg->EnsureAlternatives(), nullptr);
}

TEST(EmailMsg, MessagesWithoutTextGainAnEmptyBody) {
  auto msg = NewMessage(
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: image/gif\r\nContent-Disposition: attachment\r\n\r\nR0lG\r\n--B--\r\n",
      true);
  TEmailMsgPart *plain = nullptr, *html = nullptr;
  msg->FindBodyParts(plain, html);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(html, nullptr);
  EXPECT_TRUE(plain->Header()->IsPlainText());

  auto partial =
      NewMessage("Content-Type: message/partial; id=\"x\"; number=1\r\n\r\nxx\r\n", true);
  partial->FindBodyParts(plain, html);
  EXPECT_EQ(plain, nullptr);

  // A single-part picture becomes multipart/mixed with a text part first.
  auto picture = NewMessage(
      "Content-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n", true);
  EXPECT_TRUE(picture->Header()->IsMultipartMixed());
  std::string python = PythonView(Written(*picture));
  EXPECT_NE(python.find("multipart/mixed|-|\ntext/plain|-|"), std::string::npos) << python;
  EXPECT_NE(python.find("image/gif|-|GIF89a"), std::string::npos) << python;
}

TEST(EmailMsg, BoundaryIsGuessedFromTheClosingLine) {
  auto msg = NewMessage(
      "Content-Type: multipart/mixed\r\n\r\npreamble\r\n--abc\r\nContent-Type: text/plain\r\n\r\n"
      "one\r\n--abc\r\nContent-Type: text/plain\r\n\r\ntwo\r\n--abc--\r\n");
  ASSERT_EQ(msg->Parts().Count(), 3);
  EXPECT_EQ(msg->Parts().Items(2)->FGetRawText(), TStringList{"two"});
  EXPECT_EQ(Delimiter(msg->Header()), "--abc");  // header and delimiter lines agree
  std::string written = Written(*msg);
  auto again = NewMessage(written);
  EXPECT_EQ(again->Parts().Count(), 3);
  EXPECT_EQ(Written(*again), written);

  // Two dashes alone name no boundary.
  std::string dashes = "Content-Type: multipart/mixed\r\n\r\ntext\r\n----\r\n";
  auto bare = NewMessage(dashes);
  EXPECT_EQ(Written(*bare), dashes);

  auto firstLines = NewMessage(
      "Content-Type: multipart/mixed\r\n\r\n--xyz\r\nContent-Type: text/plain\r\n\r\none\r\n"
      "--xyz\r\nContent-Type: text/plain\r\n\r\ntwo\r\n");
  EXPECT_EQ(firstLines->Parts().Count(), 3);
}

TEST(EmailMsg, EnvelopeLineIsReadAndWrittenFirst) {
  TTempFolder folder;
  std::string path = folder.File("in.eml");
  std::ofstream(path, std::ios::binary) << "X-SMTP: a@example.com,\"Name, With Comma\",\"say "
                                           "\"\"hi\"\"\"\r\nSubject: s\r\n\r\nbody\r\n";
  TEmailMsg msg;
  msg.SetSaveOnDestroy(false);
  ASSERT_TRUE(msg.ReadFromFile(path));
  EXPECT_EQ(msg.Envelope(), (TStringList{"a@example.com", "Name, With Comma", "say \"hi\""}));
  TStringList lines;
  msg.GetRawMail(lines, true);
  EXPECT_EQ(lines[0], "Subject: s");
  EXPECT_FALSE(msg.Modified());

  msg.Header()->SetField("Subject", "changed");
  EXPECT_TRUE(msg.Modified());
  ASSERT_TRUE(msg.SaveToFile());
  EXPECT_FALSE(msg.Modified());
  EXPECT_EQ(
      ReadFileText(path),
      "X-SMTP: a@example.com,\"Name, With Comma\",\"say \"\"hi\"\"\"\r\nSubject: changed\r\n\r\n"
      "body\r\n");
  // Only a first line that is the envelope line is taken as one.
  std::istringstream in("Subject: X-SMTP: not an envelope\r\n\r\nb\r\n");
  TEmailMsg other;
  other.SetSaveOnDestroy(false);
  other.LoadFromStream(in);
  EXPECT_TRUE(other.Envelope().empty());
  EXPECT_EQ(other.Header()->Count(), 1);
}

TEST(EmailMsg, FilesAreNamedInThePrivateTemporaryFolderAndWrittenOnDestruction) {
  std::string saved;
  {
    TEmailMsg msg;
    msg.Text("Subject: temp\r\n\r\nbody\r\n");
    ASSERT_TRUE(msg.SaveToFile());
    saved = msg.FileName();
    EXPECT_EQ(fs::path(saved).parent_path(), fs::path(GetPrivateTempFolder()));
    std::string name = fs::path(saved).filename().string();
    EXPECT_EQ(name.substr(0, 5), "Temp[");
    EXPECT_EQ(name.substr(name.size() - 4), ".eml");
    msg.Header()->SetField("Subject", "on destruction");
  }
  EXPECT_EQ(ReadFileText(saved), "Subject: on destruction\r\n\r\nbody\r\n");
  {
    // A file-backed message loads lazily.
    TEmailMsg lazy;
    lazy.SetFileName(saved);
    std::string subject;
    lazy.Header()->GetSubject(subject);
    EXPECT_EQ(subject, "on destruction");
    EXPECT_FALSE(lazy.Modified());
  }
  fs::remove(saved);

  TEmailMsg nothing;
  EXPECT_FALSE(nothing.SaveToFile());
  EXPECT_FALSE(nothing.ReadFromFile("/nonexistent/folder/x.eml"));
  nothing.SetFileName("");
}

TEST(EmailMsg, AFailedWriteKeepsTheOldFileWhole) {
  TTempFolder folder;
  std::string path = folder.File("keep.eml");
  std::ofstream(path, std::ios::binary) << "Subject: old\r\n\r\nold body\r\n";
  TEmailMsg msg;
  msg.SetSaveOnDestroy(false);
  ASSERT_TRUE(msg.ReadFromFile(path));
  msg.Header()->SetField("Subject", "new");
  msg.SetFileName(folder.File("missing-folder/keep.eml"));
  EXPECT_FALSE(msg.SaveToFile());
  EXPECT_TRUE(msg.Modified());
  EXPECT_EQ(ReadFileText(path), "Subject: old\r\n\r\nold body\r\n");
}

TEST(EmailMsg, PlainTextPrefersPlainThenHtml) {
  auto msg = NewMessage(
      "Content-Type: multipart/alternative; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: "
      "text/plain\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=\r\n break\r\n--B\r\n"
      "Content-Type: text/html\r\n\r\n<b>html</b>\r\n--B--\r\n");
  TStringList lines;
  msg->GetPlainText(lines, false);
  EXPECT_EQ(lines, TStringList{"soft break"});
  lines.clear();
  msg->GetPlainText(lines, true);
  EXPECT_GT(lines.size(), 1u);

  auto html = NewMessage("Content-Type: text/html\r\n\r\n<p>only&amp;html</p>\r\n");
  lines.clear();
  html->GetPlainText(lines, false);
  EXPECT_NE(JoinLines(lines).find("only&html"), std::string::npos);
}

TEST(EmailMsg, ReflowCutsLongLinesAtSentenceEnds) {
  TStringList lines = {
      "Short line stays.",
      "",
      "",
      "This is a long sentence that goes on for quite a while, e.g. here. And then it "
      "continues with another sentence that is also fairly long indeed! The end",
  };
  ReflowPlainText(lines);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Short line stays.");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "This is a long sentence that goes on for quite a while, eg here.");
  EXPECT_EQ(lines[3],
            "And then it continues with another sentence that is also fairly long indeed!");
  EXPECT_EQ(lines[4], "The end");

  TStringList spaced = {" Two  spaces .", std::string(200, 'x')};
  ReflowPlainText(spaced);
  EXPECT_EQ(spaced[0], "Two spaces.");
  EXPECT_EQ(spaced[1].size(), 200u);  // no sentence end: one piece
}

// Nesting far beyond anything a mail program writes: the tree stops growing
// at a fixed depth (what lies deeper stays the text of one part), nothing
// recurses once per level, and the text is written back unchanged.
TEST(EmailMsg, DeepNestingIsCappedAndWrittenBackUnchanged) {
  const int levels = 20000;
  std::string text = "Subject: deep\r\n";
  for (int i = 0; i < levels; ++i)
    text += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\r\n\r\n--b" +
            std::to_string(i) + "\r\n";
  text += "Content-Type: text/plain\r\n\r\nbottom\r\n";
  for (int i = levels - 1; i >= 0; --i) text += "--b" + std::to_string(i) + "--\r\n";
  auto msg = NewMessage(text);
  // Walked without recursion: the deepest level of the tree.
  int deepest = 0;
  std::vector<TEmailMsgPart *> stack;
  for (int i = 0; i < msg->Parts().Count(); ++i) stack.push_back(msg->Parts().Items(i));
  while (!stack.empty()) {
    TEmailMsgPart *part = stack.back();
    stack.pop_back();
    deepest = std::max(deepest, part->Level());
    for (int i = 0; i < part->Parts().Count(); ++i) stack.push_back(part->Parts().Items(i));
  }
  EXPECT_GT(deepest, 8);
  EXPECT_LE(deepest, 200);
  EXPECT_EQ(Written(*msg), text);
}

// Message files hold mail (and what the mail program sent): they go to a
// folder of this user's, readable by nobody else.
TEST(EmailMsg, MessageFilesArePrivateToTheUser) {
  TTempFolder folder;
  const char *old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  ::setenv("XDG_RUNTIME_DIR", folder.File("").c_str(), 1);
  std::string path;
  {
    TEmailMsg msg;
    msg.SetSaveOnDestroy(false);
    msg.Text("Subject: private\r\n\r\nbody\r\n");
    ASSERT_TRUE(msg.SaveToFile());
    path = msg.FileName();
  }
  if (old)
    ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(fs::path(path).parent_path().parent_path(), fs::path(folder.File("")).parent_path());
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(fs::path(path).parent_path()).permissions() & fs::perms::all,
            fs::perms::owner_all);
  EXPECT_EQ(ReadFileText(path), "Subject: private\r\n\r\nbody\r\n");
}
