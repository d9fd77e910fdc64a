#include <windows.h>

#include "env/User32.h"

namespace pelto {

void* user32Function(const char* name) {
  // Never freed: windows and message boxes may be used up to the process's end.
  static HMODULE user32 = LoadLibraryW(L"user32.dll");
  return user32 ? reinterpret_cast<void*>(GetProcAddress(user32, name)) : nullptr;
}

}  // namespace pelto
