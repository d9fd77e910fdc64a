#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "ChildProcessWin.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

using test::ChildResult;
using test::runChild;

std::string lineWith(const std::string& text, const std::string& fragment) {
  std::size_t at = text.find(fragment);
  if (at == std::string::npos) return {};
  std::size_t begin = text.rfind('\n', at);
  begin = begin == std::string::npos ? 0 : begin + 1;
  return text.substr(begin, text.find('\n', at) - begin);
}

struct TempEnv {
  std::wstring dir = test::uniqueDir(L"log");
  ~TempEnv() { test::removeTree(dir); }
  std::map<std::wstring, std::wstring> env(std::map<std::wstring, std::wstring> more) const {
    more[L"TMP"] = dir;
    more[L"TEMP"] = dir;
    more[L"PELTO_TEST_CHILD"] = L"1";
    if (!more.count(L"PELTO_LOG")) more[L"PELTO_LOG"] = L"";
    if (!more.count(L"QUORVANEX_LOG")) more[L"QUORVANEX_LOG"] = L"";
    return more;
  }
};

// The child side: a few lines from several threads at once, then the log path on stdout.
TEST(LogChild, DISABLED_WriteLines) {
  if (!test::isChild()) GTEST_SKIP();
  logMessage(u"hello %d %s", 5, u"w\u00e4rld");
  logError(u"bad %S", "thing");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i) logMessage(u"thread %d line %d of a longer text to interleave", t, i);
    });
  for (auto& th : threads) th.join();
  std::printf("LOGPATH=%s\n", utf16ToUtf8(logFilePath()).c_str());
}

TEST(LogFile, NotCreatedUnlessTheEnvironmentSaysExactlyYes) {
  TempEnv t;
  for (auto value : {L"", L"Yes", L"yes ", L"1"}) {
    ChildResult r =
        runChild("LogChild.DISABLED_WriteLines", t.env({{L"PELTO_LOG", value}, {L"QUORVANEX_LOG", value}}));
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_NE(r.out.find("LOGPATH=\n"), std::string::npos) << r.out;
    EXPECT_TRUE(test::listDir(t.dir).empty());
  }
  // The older variable asks for it as well.
  ChildResult r =
      runChild("LogChild.DISABLED_WriteLines", t.env({{L"PELTO_LOG", L"no"}, {L"QUORVANEX_LOG", L"yes"}}));
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_FALSE(test::readWhole(t.dir + L"\\qvx_nlog_1.log").empty());
}

TEST(LogFile, NumberedFileWithStartLineAndOneWholeLinePerCall) {
  TempEnv t;
  test::writeWhole(t.dir + L"\\qvx_nlog_1.log", "one");
  test::writeWhole(t.dir + L"\\qvx_nlog_2.log", "two");
  ChildResult r = runChild("LogChild.DISABLED_WriteLines", t.env({{L"PELTO_LOG", L"yes"}}));
  ASSERT_EQ(r.exitCode, 0u) << r.out;
  std::wstring logPath = t.dir + L"\\qvx_nlog_3.log";
  EXPECT_EQ(test::readWhole(t.dir + L"\\qvx_nlog_1.log"), "one");
  EXPECT_EQ(test::readWhole(t.dir + L"\\qvx_nlog_2.log"), "two");
  std::string log = test::readWhole(logPath);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(r.out.find("LOGPATH=" + utf16ToUtf8(asU(logPath)) + "\n"), std::string::npos) << r.out;

  ASSERT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
  std::string start = "Started executable " + utf16ToUtf8(asU(test::selfPath())) + " at ";
  EXPECT_EQ(log.substr(3, start.size()), start);
  EXPECT_NE(log.find("\r\n\r\n["), std::string::npos) << "an empty line follows the start line";
  EXPECT_TRUE(std::regex_match(lineWith(log, "hello"), std::regex(R"(\[\d+:\d+\] hello 5 w\xC3\xA4rld\r)")));
  EXPECT_TRUE(std::regex_match(lineWith(log, "bad"), std::regex(R"(\[\d+:\d+\] ERROR: bad thing\r)")));

  // Every line of every thread is there, whole.
  std::regex whole(R"(\[\d+:\d+\] thread [0-3] line \d+ of a longer text to interleave\r)");
  int threadLines = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("thread") == std::string::npos) continue;
    EXPECT_TRUE(std::regex_match(line, whole)) << line;
    ++threadLines;
  }
  EXPECT_EQ(threadLines, 400);
}

TEST(LogFile, NumberThousandIsTheLastAndAnUnopenableOneFallsBack) {
  TempEnv t;
  for (int n = 1; n <= 999; ++n) test::writeWhole(t.dir + L"\\qvx_nlog_" + std::to_wstring(n) + L".log", "");
  // A directory under the last name: the search ends there and the file cannot be created.
  CreateDirectoryW((t.dir + L"\\qvx_nlog_1000.log").c_str(), nullptr);
  DeleteFileW(L"c:\\qvx_nlog");
  ChildResult r = runChild("LogChild.DISABLED_WriteLines", t.env({{L"PELTO_LOG", L"yes"}}));
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_NE(r.out.find("LOGPATH=c:\\qvx_nlog\n"), std::string::npos) << r.out;
  std::string log = test::readWhole(L"c:\\qvx_nlog");
  DeleteFileW(L"c:\\qvx_nlog");
  EXPECT_NE(log.find("ERROR: bad thing"), std::string::npos);
  EXPECT_EQ(GetFileAttributesW((t.dir + L"\\qvx_nlog_1001.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace pelto
