#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "instance/Instance.h"
#include "jvm/JvmOptions.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/StartUp.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::ScopedEnv;
using test::ScratchDir;

using test::writeWhole;

std::string narrow(const std::wstring& s) {
  return wideToNarrow(asU(s));
}

TEST(VmOptionsFiles, IncludesOnTheDrive) {
  ScratchDir dir(L"pelto-vmopt");
  CreateDirectoryW((dir.path() + L"\\conf").c_str(), nullptr);
  ASSERT_TRUE(writeWhole(dir.path() + L"\\main.vmoptions",
                         "-Dmain=1\r\n-include-options conf\\inner.vmoptions\r\n-Dafter=1\r\n"));
  ASSERT_TRUE(
      writeWhole(dir.path() + L"\\conf\\inner.vmoptions",
                 "-Dinner=1\r\n-include-options ..\\main.vmoptions\r\n-include-options gone.vmoptions\r\n"));
  // A writer holding the file open does not hide it.
  HANDLE writer = CreateFileW((dir.path() + L"\\main.vmoptions").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  JvmOptionList list;
  ClassPathOverrides overrides;
  OptionGathering g{list, overrides, launcherOptionSystem(), {}};
  std::u16string main = dir.u() + u"\\main.vmoptions";
  test::LogRecorder log;
  readOptionsFile(main, launcherOptionSystem().open(main), g);
  CloseHandle(writer);
  EXPECT_EQ(list, (JvmOptionList{"-Dmain=1", "-Dinner=1", "-Dafter=1"}));
  EXPECT_TRUE(log.contains("includes itself"));
}

TEST(VmOptionsFiles, DefaultFileNextToTheExecutable) {
  std::u16string exe = getExecutablePathWide();
  std::wstring candidate = asW(defaultOptionsFileNames(exe)[1]);  // name.exe.vmoptions
  ASSERT_TRUE(writeWhole(candidate, "-Ddefault=1\n"));
  std::optional<OptionsFile> file = openDefaultOptionsFile();
  DeleteFileW(candidate.c_str());
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->bytes, "-Ddefault=1\n");
}

TEST(AssemblyFiles, ArchivesOfADirectory) {
  ScratchDir dir(L"pelto-arch");
  for (const wchar_t* f : {L"\\b.jar", L"\\a.jar", L"\\c.zip", L"\\notes.txt"})
    ASSERT_TRUE(writeWhole(dir.path() + f, "x"));
  CreateDirectoryW((dir.path() + L"\\sub.jar").c_str(), nullptr);
  std::string text;
  const AssemblySystem& system = launcherAssemblySystem();
  ASSERT_TRUE(appendArchivesOf(narrow(dir.path()), "jar", text, system));
  std::string d = narrow(dir.path());
  // Every name the listing gives, subdirectories too, each resolved and ";"-terminated.
  for (const char* name : {"a.jar", "b.jar", "sub.jar"})
    EXPECT_NE(text.find(d + "\\" + name + ";"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), ';'), 3);
  text.clear();
  ASSERT_TRUE(appendArchivesOf(d, ".zip", text, system));
  EXPECT_EQ(text, d + "\\c.zip;");
  EXPECT_FALSE(appendArchivesOf(d + "\\missing", "jar", text, system));
}

TEST(AssemblyFiles, EnvironmentLookup) {
  const AssemblySystem& system = launcherAssemblySystem();
  ScopedEnv set(L"PELTO_OPT_TEST", std::wstring(L"\"C:\\x.jar\""));
  ScopedEnv unset(L"PELTO_OPT_TEST_NONE", std::nullopt);
  EnvironmentValue v = system.environment("PELTO_OPT_TEST");
  EXPECT_EQ(v.state, EnvironmentValue::State::Set);
  EXPECT_EQ(v.value, "\"C:\\x.jar\"");
  EXPECT_EQ(system.environment("PELTO_OPT_TEST_NONE").state, EnvironmentValue::State::Missing);
}

TEST(LauncherPropertiesWin, PathAndConsoleCodePage) {
  InstanceSemaphoreName = "Local\\pelto-test";
  LauncherFlavour = 'e';
  ScopedEnv path(L"PATH", std::wstring(L"C:\\windows;C:\\pelto-test"));
  ScopedEnv manpath(L"MANPATH", std::nullopt);
  LauncherProperties p = launcherProperties();
  InstanceSemaphoreName.clear();
  ASSERT_GE(p.size(), 7u);
  EXPECT_EQ(p.front(), "-Dpelto.semaphoreName=Local\\pelto-test");
  EXPECT_EQ(p[p.size() - 2], "-Djava.library.path=C:\\windows;C:\\pelto-test");
  EXPECT_EQ(p.back(), "-Dpelto.consoleCodepage=cp" + std::to_string(GetConsoleOutputCP()));
  {
    ScopedEnv man(L"MANPATH", std::wstring(L"/usr/share/man"));
    ScopedEnv longPath(L"PATH", std::wstring(LibraryPathRoom, L'p'));
    LauncherProperties q = launcherProperties();
    EXPECT_EQ(q.back(), "-Djava.library.path=");  // too long: empty, and no code page property
  }
  EXPECT_EQ(p[1], "-Dpelto.moduleName=" + getExecutablePath());
}

}  // namespace
}  // namespace pelto
