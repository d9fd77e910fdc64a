// A java.exe that never ends, met by the packed example: the probe gives up after its wait and
// the search goes on to the next place. This launch takes about a minute, so it has an
// executable of its own that runs beside the other end-to-end tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "service/PackedAppWin.h"

namespace pelto {
namespace {

using test::contains;
using test::ExtraRuntime;
using test::LauncherRun;
using test::readWhole;
using test::ScopedEnv;
using test::ServiceLayout;

TEST(ProbeHang, AJavaExeThatNeverEndsIsTerminatedAndTheNextPlaceIsUsed) {
  ServiceLayout app(L"PeltoFaultHang", "return");
  ASSERT_TRUE(app.ready());
  app.writeJavaModel("sleep\n");
  const std::wstring otherRecord = app.dir() + L"\\other-record.jsonl";
  ExtraRuntime other(app.dir() + L"\\other", otherRecord);
  ASSERT_TRUE(other.ready());
  const std::wstring temp = app.dir() + L"\\tmp";
  CreateDirectoryW(temp.c_str(), nullptr);

  LauncherRun r;
  {
    ScopedEnv home(L"HELLO_JAVA_HOME", (app.dir() + L"\\other").c_str());
    ScopedEnv log(L"PELTO_LOG", L"yes");
    ScopedEnv tmp(L"TMP", temp.c_str());
    ScopedEnv tempVar(L"TEMP", temp.c_str());
    r = app.run({L"/run"});
  }
  std::string log;
  for (const std::wstring& name : test::namesIn(temp, L"qvx_nlog_*.log"))
    log += readWhole(temp + L"\\" + name);
  EXPECT_EQ(r.exitCode, 0u) << r.out << log;
  EXPECT_TRUE(contains(log, "Exit Code 259")) << log;
  EXPECT_TRUE(contains(log, "Terminating process")) << log;
  EXPECT_TRUE(contains(readWhole(otherRecord), "{\"event\":\"createJavaVM\""))
      << readWhole(otherRecord) << log;
  EXPECT_TRUE(app.events("createJavaVM").empty()) << app.record();
  // A probe cut short leaves no cache entry for that executable.
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, versionCacheKey(app.javaExe()).c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  if (key) RegCloseKey(key);
}

}  // namespace
}  // namespace pelto
