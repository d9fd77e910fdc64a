#pragma once
// Runtime homes on the Wine drive and registry keys for the tests of runtime discovery. Every
// home lives in its own scratch directory, removed with the object together with the version
// cache entry of its java.exe; every ScopedRegKey deletes its key tree and the ancestors it made.
#include <windows.h>

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

// What the java.exe double prints to show the version.
inline std::string printing(const std::string& version) {
  return "0\njava version \"" + version + "\"\n";
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

class ScopedRegKey {
 public:
  ScopedRegKey(HKEY root, std::string path) : root_(root), path_(std::move(path)) {
    for (std::size_t cut = path_.find('\\'); cut != std::string::npos; cut = path_.find('\\', cut + 1)) {
      HKEY probe;
      std::string ancestor = path_.substr(0, cut);
      if (RegOpenKeyExA(root_, ancestor.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS)
        RegCloseKey(probe);
      else
        createdAncestors_.insert(createdAncestors_.begin(), ancestor);
    }
    deleteKeyTree(root_, path_);
    RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  }
  ~ScopedRegKey() {
    RegCloseKey(key_);
    deleteKeyTree(root_, path_);
    // Deepest first; a key that still has subkeys (another test's) stays.
    for (const std::string& ancestor : createdAncestors_) RegDeleteKeyA(root_, ancestor.c_str());
  }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  void setString(const char* name, const std::string& value) {
    RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }

 private:
  HKEY root_;
  std::string path_;
  HKEY key_ = nullptr;
  std::vector<std::string> createdAncestors_;
};

// A home below %TEMP% whose bin\java.exe is the java.exe double behaving as told.
class RuntimeHome {
 public:
  explicit RuntimeHome(const std::string& name,
                       const std::string& behaviour = "0\nopenjdk version \"17.0.2\" 2022-01-18\n") {
    char tmp[MAX_PATH], full[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    std::string raw = std::string(tmp) + "pelto rt_" + std::to_string(GetCurrentProcessId()) + "_" + name;
    GetFullPathNameA(raw.c_str(), MAX_PATH, full, nullptr);
    home_ = full;
    removeTreeA(home_);
    copyDouble(L"java", L"java.exe", wide(javaExe()));
    setBehaviour(behaviour);
  }
  ~RuntimeHome() {
    deleteKeyTree(HKEY_CURRENT_USER, versionCacheKey(normalisedJavaExe()));
    // The cache's own key goes too once empty (the call fails while it has entries).
    RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\pelto\\jvms");
    removeTreeA(home_);
  }
  RuntimeHome(const RuntimeHome&) = delete;
  RuntimeHome& operator=(const RuntimeHome&) = delete;

  const std::string& path() const { return home_; }
  std::string javaExe() const { return home_ + "\\bin\\java.exe"; }
  // The form checkJavaExe gives back and the cache uses.
  std::string normalisedJavaExe() const {
    std::string p = javaExe();
    CharLowerBuffA(p.data(), static_cast<DWORD>(p.size()));
    return p;
  }
  void setBehaviour(const std::string& behaviour) const {
    writeText(wide(home_ + "\\bin\\java-double.txt"), behaviour);
  }
  std::string log() const { return readWhole(wide(home_ + "\\bin\\java-double.log")); }
  int runs() const {
    std::string l = log();
    int n = 0;
    for (std::size_t at = l.find("run "); at != std::string::npos; at = l.find("run ", at + 1)) ++n;
    return n;
  }
  // A runtime updated in place: the last-write time of java.exe moves on.
  bool touchJavaExe() const {
    FILETIME later;
    GetSystemTimeAsFileTime(&later);
    ++later.dwHighDateTime;
    HANDLE h = CreateFileA(javaExe().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    bool ok = SetFileTime(h, nullptr, nullptr, &later);
    CloseHandle(h);
    return ok;
  }

 private:
  std::string home_;
};

}  // namespace pelto::test
