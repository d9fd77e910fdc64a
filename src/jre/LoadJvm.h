#pragma once
// Finding a runtime and loading its jvm.dll; the configured message on failure.
#include <cstddef>
#include <string>
#include <string_view>

namespace pelto {

// Search, load, record the chosen runtime and the JNI_CreateJavaVM address (setCreateJavaVmEntry
// and setChosenRuntime). false after showing the message chosen by the JvmSourceKind.
bool LoadDLL();
// Module handle (HMODULE) of jvm.dll for an accepted java.exe / javaw.exe, or nullptr. Tries the
// executable's bin directory, then the "..\jre\bin" of a development kit.
void* loadJvmFromJavaExe(const std::string& javaExe);
// One bin directory: PATH extended (and restored when every VM subdirectory fails).
void* loadJvmLibraryFromBin(const std::string& javaExe);
// bin\name\jvm.dll, loaded by its full path.
void* tryJvmDll(const std::string& bin, const std::string& name);
// ucrtbase.dll loaded ahead of jvm.dll on Windows versions below 6.4, when bin holds one.
void preloadUcrtbase(const std::string& bin);

// The VM subdirectories tried after the configured one (ConfigId 152), in this order.
inline constexpr const char* JvmSubdirectories[] = {"client", "server", "j9vm", "hotspot", "jrockit"};

// Length of the executable's file name as the path rules count it: 9 for a path ending in
// "javaw.exe", else 8 ("java.exe"), never more than the path itself.
std::size_t javaExeFileNameLength(std::string_view javaExe);
// The bin directory of a java executable, without the final backslash.
std::string binDirectoryOf(std::string_view javaExe);
// The same executable name in the "..\jre\bin" of the executable's directory:
// c:\jdk\bin\java.exe gives c:\jdk\bin\..\jre\bin\java.exe.
std::string jreBinVariantOf(std::string_view javaExe);
// Whether a Windows version (as the version query reports it) needs ucrtbase.dll preloaded.
bool needsUcrtbasePreload(unsigned long major, unsigned long minor);

}  // namespace pelto
