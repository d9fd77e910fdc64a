// The service process without the manager: a stop that comes while the child is being started,
// before its pipe is handed over, still reaches the child once, and a later request closes
// nothing else; the main thread outlives the service main.
#include <gtest/gtest.h>
#include <windows.h>

#include "service/ServiceRuntime.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

std::string readAll(HANDLE pipe) {
  std::string data;
  char buf[64];
  DWORD got = 0;
  while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  return data;
}

TEST(StopPipe, AStopDuringStartUpIsDeliveredAtTheHandOverAndOnlyOnce) {
  // The record starts running; the second round meets it stop pending from the first.
  for (bool stopFirst : {true, false}) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    HANDLE bystander = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    test::LogRecorder log;
    if (stopFirst) serviceControlHandler(SERVICE_CONTROL_STOP);
    handOverStopPipe(writeEnd);
    DWORD waiting = 0;  // the line owed for an early stop is there as soon as the pipe is handed over
    PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr);
    EXPECT_EQ(waiting, stopFirst ? 2u : 0u);
    if (!stopFirst) serviceControlHandler(SERVICE_CONTROL_STOP);
    serviceControlHandler(SERVICE_CONTROL_SHUTDOWN);
    EXPECT_EQ(readAll(readEnd), "0\n") << stopFirst;
    EXPECT_TRUE(log.contains("sending shutdown failed"));
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(bystander, &flags)) << stopFirst;
    CloseHandle(bystander);
    CloseHandle(readEnd);
  }
}

// The manager's dispatcher returns once it has the stopped state, while the service main may
// still be writing its last log lines ("service stopped set", "exiting").
bool ServiceMainFinished = false;
BOOL WINAPI dispatcherReturningFirst(const SERVICE_TABLE_ENTRYW*) {
  auto lateServiceMain = [](LPVOID) -> DWORD {
    Sleep(300);
    ServiceMainFinished = true;
    markServiceMainDone();
    return 0;
  };
  CloseHandle(CreateThread(nullptr, 0, lateServiceMain, nullptr, 0, nullptr));
  return TRUE;
}

TEST(ServiceDispatcher, TheMainThreadWaitsForTheServiceMainToFinish) {
  EXPECT_EQ(runServiceDispatcher(dispatcherReturningFirst), 0);
  EXPECT_TRUE(ServiceMainFinished);
  // Started from a console, not by the manager: the wrong command line's exit code, not success.
  EXPECT_EQ(runServiceDispatcher([](const SERVICE_TABLE_ENTRYW*) -> BOOL {
              SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
              return FALSE;
            }),
            2);
}

}  // namespace
}  // namespace pelto
