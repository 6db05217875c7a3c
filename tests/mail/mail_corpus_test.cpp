// Messages that nobody on this project wrote: Python's own e-mail test
// corpus. Every one must parse, come back byte for byte, and decode its
// leaf parts to what Python's email package decodes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"
#include "shared/TestFiles.h"

namespace fs = std::filesystem;

namespace {

// Asked of the python3 on the path, so the corpus follows its version
// (scripts/install-deps installs the package that holds it).
std::string CorpusDir() {
  static const std::string dir = [] {
    FILE *pipe = popen(
        "python3 -c 'import os, test.test_email as t; "
        "print(os.path.join(os.path.dirname(t.__file__), \"data\"))' 2>/dev/null",
        "r");
    if (!pipe) return std::string();
    char buffer[4096];
    std::string out;
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }();
  return dir;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  const std::string dir = CorpusDir();
  if (dir.empty() || !fs::is_directory(dir)) return files;
  for (const auto &entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("msg_", 0) == 0 && entry.path().extension() == ".txt")
      files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The text as the message class keeps it: lines ended by CR LF.
std::string ToCrLf(const std::string &text) {
  std::string out;
  out.reserve(text.size() + text.size() / 20);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  return out;
}

std::unique_ptr<TEmailMsg> LoadCorpusMessage(const std::string &text) {
  auto msg = std::make_unique<TEmailMsg>();
  msg->SetSaveOnDestroy(false);
  // The corpus holds messages without any text body; adding one would not
  // be a round trip.
  msg->SetAddBodyIfMissing(false);
  std::istringstream in(text);
  msg->LoadFromStream(in);
  return msg;
}

struct TPythonLeaf {
  std::string Type, Encoding;
  int Defects = 0;
  std::string Bytes;
};

std::map<std::string, std::vector<TPythonLeaf>> PythonLeaves(
    const std::vector<std::string> &files) {
  std::string command = "python3 " BRELVANE_TEST_DATA "/mailcorpus/python_leaves.py";
  for (const auto &f : files) command += " " + f;
  std::map<std::string, std::vector<TPythonLeaf>> result;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::string all;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) all.append(buffer, n);
  pclose(pipe);
  size_t pos = 0;
  std::string current;
  while (pos < all.size()) {
    size_t eol = all.find('\n', pos);
    if (eol == std::string::npos) break;
    std::istringstream line(all.substr(pos, eol - pos));
    pos = eol + 1;
    std::string tag;
    line >> tag;
    if (tag == "FILE") {
      line >> current;
      result[current];
    } else if (tag == "PART") {
      TPythonLeaf leaf;
      size_t count = 0;
      line >> leaf.Type >> leaf.Encoding >> leaf.Defects >> count;
      leaf.Bytes = all.substr(pos, count);
      pos += count + 1;
      result[current].push_back(leaf);
    }
  }
  return result;
}

// Leaves of our tree in depth-first order: parts without sub-parts that are
// not the preamble of a multipart.
void CollectLeaves(TEmailMsgPartCollection &parts, std::vector<TEmailMsgPart *> &leaves) {
  for (int i = 0; i < parts.Count(); ++i) {
    TEmailMsgPart *part = parts.Items(i);
    if (part->Parts().Count() > 0) {
      CollectLeaves(part->Parts(), leaves);
    } else if (!part->IsPreamble()) {
      leaves.push_back(part);
    }
  }
}

std::string TextForm(std::string s) {
  std::string out;
  for (char c : s)
    if (c != '\r') out += c;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace

// Differences from the input other than a dropped epilogue, and why they are
// expected: see the explanations beside each name.
const std::map<std::string, std::string> kKnownRoundTripDifferences = {
    {"msg_25.txt", "multipart without boundary parameter: the guessed one is stored"},
    {"msg_33.txt", "boundary only in RFC 2231 form: the guessed one is stored"},
    {"msg_38.txt", "a body holds its parent's delimiter lines at line start"},
};

TEST(MailCorpus, EveryMessageParsesAndWritesBackItsOwnText) {
  std::vector<std::string> files = CorpusFiles();
  // A missing corpus is a broken set-up, not a reason to pass.
  ASSERT_FALSE(files.empty()) << "no e-mail corpus found through python3 (at '" << CorpusDir()
                              << "'); scripts/install-deps installs it";
  int exact = 0, epilogueOnly = 0;
  std::vector<std::string> differing;
  for (const std::string &file : files) {
    std::string input = ToCrLf(ReadFileText(file));
    auto msg = LoadCorpusMessage(input);
    msg->Header();  // parse: unparsed text would be handed back as it is
    ASSERT_TRUE(msg->Parsed()) << file;
    std::string output;
    msg->GetRawMailText(output, true);
    if (output == input) {
      ++exact;
    } else if (msg->Header()->IsMultipart() && output.size() < input.size() &&
               input.compare(0, output.size(), output) == 0) {
      // Text after the message's closing delimiter is not kept.
      ++epilogueOnly;
    } else {
      differing.push_back(fs::path(file).filename().string());
    }
  }
  std::string list;
  for (const auto &name : differing) {
    list += name + " ";
    EXPECT_TRUE(kKnownRoundTripDifferences.count(name)) << name << " differs unexpectedly";
  }
  RecordProperty("exact", exact);
  RecordProperty("epilogue_only", epilogueOnly);
  std::printf("corpus: %zu messages, %d exact, %d differ only by the epilogue, %zu other: %s\n",
              files.size(), exact, epilogueOnly, differing.size(), list.c_str());
  EXPECT_GT(exact, int(files.size()) / 2);
}

TEST(MailCorpus, DecodedLeavesEqualWhatPythonDecodes) {
  std::vector<std::string> files = CorpusFiles();
  // A missing corpus is a broken set-up, not a reason to pass.
  ASSERT_FALSE(files.empty()) << "no e-mail corpus found through python3 (at '" << CorpusDir()
                              << "'); scripts/install-deps installs it";
  auto python = PythonLeaves(files);
  ASSERT_EQ(python.size(), files.size()) << "python3 did not answer for every message";
  int compared = 0, skipped = 0;
  for (const std::string &file : files) {
    std::string text = ToCrLf(ReadFileText(file));
    // Parts of a digest are messages by default; this model reads them as
    // parts whose header is the message's header.
    if (ContainsText(text, "multipart/digest")) {
      ++skipped;
      continue;
    }
    auto msg = LoadCorpusMessage(text);
    std::vector<TEmailMsgPart *> leaves;
    CollectLeaves(msg->Parts(), leaves);
    const auto &expected = python[file];
    if (leaves.size() != expected.size()) {
      ++skipped;
      std::printf("structure differs: %s (%zu leaves here, %zu in python)\n",
                  fs::path(file).filename().string().c_str(), leaves.size(), expected.size());
      continue;
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
      const TPythonLeaf &leaf = expected[i];
      bool wellFormed =
          leaf.Defects == 0 && (leaf.Encoding == "base64" || leaf.Encoding == "quoted-printable" ||
                                leaf.Encoding == "7bit" || leaf.Encoding == "8bit" ||
                                (leaf.Encoding == "-" && leaf.Type.rfind("text/", 0) == 0));
      std::string ourType;
      leaves[i]->Header()->GetContentType(ourType);
      // A container Python walks into (message/external-body) is a leaf here.
      if (!wellFormed || !SameText(ourType, leaf.Type)) {
        ++skipped;
        continue;
      }
      std::string ours;
      leaves[i]->DecodeToStream(ours, false);
      std::string where = fs::path(file).filename().string() + " leaf " + std::to_string(i);
      if (leaf.Encoding == "base64") {
        EXPECT_EQ(ours, leaf.Bytes) << where;
      } else {
        EXPECT_EQ(TextForm(ours), TextForm(leaf.Bytes)) << where;
      }
      ++compared;
    }
  }
  std::printf("corpus: %d leaves compared with python, %d skipped\n", compared, skipped);
  EXPECT_GT(compared, 60);
}
