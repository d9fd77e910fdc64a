// The Windows pieces of the service process that run without the manager: the child's priority
// from the registry, the output drain and the console control handler.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "service/ServiceRuntime.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

const wchar_t* const PriorityKey = L"SOFTWARE\\tarnwick-labs\\pelto\\priority";

struct PriorityValue {
  std::wstring name;
  PriorityValue(const wchar_t* n, DWORD type, const void* data, DWORD size) : name(n) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, PriorityKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
      RegCloseKey(key);
    }
  }
  ~PriorityValue() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, PriorityKey, name.c_str()); }
};

TEST(ChildPriorityRegistry, FourByteValueOfAnyTypeHoldingOnePriorityClassIsUsed) {
  DWORD high = HIGH_PRIORITY_CLASS, below = BELOW_NORMAL_PRIORITY_CLASS, odd = 0x4321;
  unsigned long long wide = HIGH_PRIORITY_CLASS;
  PriorityValue dword(L"PeltoPrioDword", REG_DWORD, &high, 4);
  PriorityValue binary(L"PeltoPrioBinary", REG_BINARY, &below, 4);
  PriorityValue oddValue(L"PeltoPrioOdd", REG_DWORD, &odd, 4);
  PriorityValue qword(L"PeltoPrioQword", REG_QWORD, &wide, 8);
  PriorityValue shortValue(L"PeltoPrioShort", REG_BINARY, &high, 2);
  test::LogRecorder log;
  EXPECT_EQ(readChildPriorityClass(u"PeltoPrioDword"), static_cast<DWORD>(HIGH_PRIORITY_CLASS));
  EXPECT_TRUE(log.contains("using priority 128"));
  EXPECT_EQ(readChildPriorityClass(u"PeltoPrioBinary"), static_cast<DWORD>(BELOW_NORMAL_PRIORITY_CLASS));
  // Bits beyond one class would become other creation flags of the child.
  EXPECT_EQ(readChildPriorityClass(u"PeltoPrioOdd"), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
  log.clear();
  EXPECT_EQ(readChildPriorityClass(u"PeltoPrioQword"), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(readChildPriorityClass(u"PeltoPrioShort"), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(readChildPriorityClass(u"PeltoPrioMissing"), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
  EXPECT_FALSE(log.contains("using priority"));
}

TEST(ChildOutputDrain, ReadsEverythingUntilTheWriterIsGone) {
  HANDLE r = nullptr, w = nullptr;
  ASSERT_TRUE(CreatePipe(&r, &w, nullptr, 0));
  // More than the pipe holds: the writer only finishes when the drain keeps reading.
  std::thread writer([w] {
    std::string chunk(10000, 'x');
    for (int i = 0; i < 20; ++i) {
      DWORD n = 0;
      WriteFile(w, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr);
    }
    CloseHandle(w);
  });
  test::LogRecorder log;
  EXPECT_EQ(drainChildOutput(r), 0u);
  writer.join();
  EXPECT_TRUE(log.contains("consuming output"));
  EXPECT_TRUE(log.contains("consuming output done"));
  // The drain closed its read end.
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(r, &flags));
}

TEST(ConsoleControl, EveryEventIsHandled) {
  test::LogRecorder log;
  for (DWORD e : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT})
    EXPECT_TRUE(consoleControlHandler(e)) << e;
  EXPECT_TRUE(log.contains("ConsoleCtrlHandler event"));
}

}  // namespace
}  // namespace pelto
