#pragma once
// The service process: the service main run by the dispatcher.
#include <windows.h>

namespace pelto {

void WINAPI serviceMain(DWORD argc, LPWSTR* argv);

}  // namespace pelto
