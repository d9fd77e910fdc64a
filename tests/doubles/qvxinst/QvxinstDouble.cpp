// qvxinst.dll for tests: registerNatives records its call and returns what qvxinst-double.txt
// beside the DLL says ("false" refuses, after reporting through the launcher's error log).
#include <jni.h>
#include <windows.h>

#include "Record.h"

using LogErrorFunction = void (*)(const wchar_t* format, ...);

extern "C" __declspec(dllexport) unsigned char registerNatives(JNIEnv* env, HMODULE module,
                                                               LogErrorFunction log) {
  const void* self = reinterpret_cast<const void*>(&registerNatives);
  bool result =
      pelto::doubles::readFile(pelto::doubles::besideModule(self, L"qvxinst-double.txt")).rfind("false", 0) !=
      0;
  HMODULE own = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(self), &own);
  pelto::doubles::recordLine(
      std::string("{\"event\":\"registerNatives\",\"env\":") + (env ? "true" : "false") +
      ",\"ownModule\":" + (module == own ? "true" : "false") + ",\"log\":" + (log ? "true" : "false") +
      ",\"result\":" + (result ? "true" : "false") + "}");
  if (!result && log) log(L"qvxinst double refused: %s (%d)", L"registration", 7);
  return result ? 1 : 0;
}
