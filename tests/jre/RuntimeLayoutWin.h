#pragma once
// Runtime homes on the Wine drive and registry keys for the tests of runtime discovery.
//
//   RuntimeHome home(L"jdk17", {.behaviour = "0\nopenjdk version \"17.0.2\"\n"});
//   home.javaExe()          -> "c:\...\jdk17\bin\java.exe" (narrow, as checkJavaExe takes it)
//   home.runs()             -> how often its java.exe ran (one line per run in java-double.log)
//   ScopedRegKey key(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\JDK\\97.3.1");
//   key.setString("JavaHome", home.path());
//
// Every home lives in its own scratch directory that is removed with the object, together
// with the version cache entries of its executables; every ScopedRegKey deletes its key tree.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "env/TextConv.h"
#include "jre/ProbeText.h"
#include "launcher/ChildProcessWin.h"
#include "support/DoublesWin.h"

namespace pelto::test {

inline std::wstring wide(const std::string& s) {
  return asW(narrowToWide(s));
}

inline void removeTreeA(const std::string& dir) {
  removeTree(wide(dir));
}

// Deletes a key tree of the 64-bit or 32-bit view (KEY_WOW64_64KEY / KEY_WOW64_32KEY).
inline void deleteKeyTree(HKEY root, const std::string& path, REGSAM view = 0) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
    RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
  }
  RegDeleteKeyExA(root, path.c_str(), view, 0);
}

// A registry key created for one test and deleted with its subkeys afterwards.
class ScopedRegKey {
 public:
  ScopedRegKey(HKEY root, std::string path, REGSAM view = 0)
      : root_(root), path_(std::move(path)), view_(view) {
    // The ancestors this key brings into being go again with it.
    for (std::size_t cut = path_.find('\\'); cut != std::string::npos; cut = path_.find('\\', cut + 1)) {
      HKEY probe;
      std::string ancestor = path_.substr(0, cut);
      if (RegOpenKeyExA(root_, ancestor.c_str(), 0, KEY_READ | view_, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
      } else {
        createdAncestors_.insert(createdAncestors_.begin(), ancestor);
      }
    }
    deleteKeyTree(root_, path_, view_);
    RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view_,
                    nullptr, &key_, nullptr);
  }
  ~ScopedRegKey() {
    if (key_) RegCloseKey(key_);
    deleteKeyTree(root_, path_, view_);
    // Deepest first; a key that still has subkeys (another test's) stays.
    for (const std::string& ancestor : createdAncestors_) RegDeleteKeyExA(root_, ancestor.c_str(), view_, 0);
  }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  bool valid() const { return key_ != nullptr; }
  HKEY get() const { return key_; }
  const std::string& path() const { return path_; }
  // REG_SZ; withNul: the data length counts the terminating NUL. Without it a byte other
  // than NUL follows the text, or the registry would count the NUL in after all.
  bool setString(const char* name, const std::string& value, bool withNul = true) {
    std::string data = value + (withNul ? '\0' : '.');
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(value.size() + (withNul ? 1 : 0))) == ERROR_SUCCESS;
  }
  bool setBinary(const char* name, const std::vector<unsigned char>& bytes) {
    return RegSetValueExA(key_, name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())) ==
           ERROR_SUCCESS;
  }

 private:
  HKEY root_;
  std::string path_;
  REGSAM view_;
  HKEY key_ = nullptr;
  std::vector<std::string> createdAncestors_;
};

// A runtime home in a fresh directory below %TEMP%; removed with the object, together with
// the version cache entries of its java.exe and javaw.exe.
class RuntimeHome {
 public:
  explicit RuntimeHome(const std::string& name,
                       const std::string& behaviour = "0\nopenjdk version \"17.0.2\" 2022-01-18\n") {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    char full[MAX_PATH];
    std::string raw = std::string(tmp) + "pelto rt_" + std::to_string(GetCurrentProcessId()) + "_" + name;
    GetFullPathNameA(raw.c_str(), MAX_PATH, full, nullptr);
    home_ = full;
    removeTreeA(home_);
    bin_ = home_ + "\\bin\\";
    copyDouble(L"java", L"java.exe", wide(bin_ + "java.exe"));
    setBehaviour(behaviour);
  }
  ~RuntimeHome() {
    deleteKeyTree(HKEY_CURRENT_USER, versionCacheKey(normalisedJavaExe()));
    // The cache's own key goes too once empty (the call fails while it has entries).
    RegDeleteKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\pelto\\jvms", 0, 0);
    removeTreeA(home_);
  }
  RuntimeHome(const RuntimeHome&) = delete;
  RuntimeHome& operator=(const RuntimeHome&) = delete;

  const std::string& path() const { return home_; }          // the home, as laid out (case kept)
  std::string javaExe() const { return bin_ + "java.exe"; }  // as laid out
  // The form checkJavaExe gives back and the cache uses.
  std::string normalisedJavaExe() const {
    std::string p = javaExe();
    CharLowerBuffA(p.data(), static_cast<DWORD>(p.size()));
    return p;
  }
  void setBehaviour(const std::string& behaviour) const {
    writeText(wide(bin_ + "java-double.txt"), behaviour);
  }
  std::string log() const { return readWhole(wide(bin_ + "java-double.log")); }
  int runs() const {
    std::string l = log();
    int n = 0;
    for (std::size_t at = l.find("run "); at != std::string::npos; at = l.find("run ", at + 1)) ++n;
    return n;
  }
  // Sets the last-write time of java.exe (a runtime updated in place).
  bool touchJavaExe(std::uint64_t fileTime) const {
    HANDLE h = CreateFileA(javaExe().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME t{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    BOOL ok = SetFileTime(h, nullptr, nullptr, &t);
    CloseHandle(h);
    return ok;
  }
  std::uint64_t javaExeLastWrite() const {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(javaExe().c_str(), GetFileExInfoStandard, &d)) return 0;
    return (static_cast<std::uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
           d.ftLastWriteTime.dwLowDateTime;
  }

 private:
  std::string home_;
  std::string bin_;
};

}  // namespace pelto::test
