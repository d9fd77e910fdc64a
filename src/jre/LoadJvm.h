#pragma once
// Finding a runtime and loading its jvm.dll; the configured message on failure.
#include <string>

namespace pelto {

// Search, load, record the chosen runtime and the JNI_CreateJavaVM address (setCreateJavaVmEntry
// and setChosenRuntime). false after showing the message chosen by the JvmSourceKind.
bool LoadDLL();
// Module handle (HMODULE) of jvm.dll for an accepted java.exe / javaw.exe, or nullptr.
void* loadJvmFromJavaExe(const std::string& javaExe);

}  // namespace pelto
