// The temporary directory: a fixed list of candidates, each proven writable by a probe
// directory.
#include <windows.h>

// RtlGenRandom, in advapi32 under this name; its header clashes with the native API's.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

#include <cstring>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr DWORD Room = static_cast<DWORD>(TextRoom);

// Unpredictable to other users, so a probe name cannot be planted in advance.
std::string randomDigits() {
  std::uint64_t value = 0;
  systemRandom(value);
  return std::to_string(value);
}

// Decimal digits as wide text. std::to_wstring would go through the C library's wide printf,
// a formatter far larger than the launcher needs.
std::wstring wideDigits(unsigned long long value) {
  std::string digits = std::to_string(value);
  return std::wstring(digits.begin(), digits.end());
}

// The Win32 calls in both widths, so the candidate list is written once.
struct NarrowApi {
  using S = std::string;
  static S tempPath() {
    S b(TextRoom, '\0');
    DWORD n = GetTempPathA(Room, b.data());
    b.resize(n > 0 && n < Room ? n : 0);
    return b;
  }
  static S windowsDirectory() {
    S b(TextRoom, '\0');
    UINT n = GetWindowsDirectoryA(b.data(), Room);
    b.resize(n > 0 && n < Room ? n : 0);
    return b;
  }
  static bool variable(const char* name, S& out, std::size_t room) {
    S b(room, '\0');
    DWORD n = GetEnvironmentVariableA(name, b.data(), static_cast<DWORD>(room));
    if (n == 0 || n >= room) return false;
    b.resize(n);
    out = b;
    return true;
  }
  static S text(const char* ascii) { return ascii; }
};

struct WideApi {
  using S = std::u16string;
  static S tempPath() {
    std::wstring b(TextRoom, L'\0');
    DWORD n = GetTempPathW(Room, b.data());
    b.resize(n > 0 && n < Room ? n : 0);
    return asU(b);
  }
  static S windowsDirectory() {
    std::wstring b(TextRoom, L'\0');
    UINT n = GetWindowsDirectoryW(b.data(), Room);
    b.resize(n > 0 && n < Room ? n : 0);
    return asU(b);
  }
  static bool variable(const char* name, S& out, std::size_t room) {
    std::wstring b(room, L'\0');
    std::wstring wname(name, name + std::char_traits<char>::length(name));
    DWORD n = GetEnvironmentVariableW(wname.c_str(), b.data(), static_cast<DWORD>(room));
    if (n == 0 || n >= room) return false;
    b.resize(n);
    out = asU(b);
    return true;
  }
  static S text(const char* ascii) { return S(ascii, ascii + std::char_traits<char>::length(ascii)); }
};

template <class Api>
std::vector<TempCandidate<typename Api::S>> candidates() {
  using S = typename Api::S;
  std::vector<TempCandidate<S>> list;
  auto add = [&](S path, bool create, bool reject) {
    // A candidate longer than the room is no candidate: it could not be handed on whole.
    if (!path.empty() && path.size() < TextRoom) list.push_back({std::move(path), create, reject});
  };
  auto profileTemp = [] {
    S v;
    return Api::variable("USERPROFILE", v, TextRoom) ? v + Api::text("\\AppData\\Local\\Temp") : S();
  };
  auto home = [] {
    S drive, path;
    if (!Api::variable("HOMEDRIVE", drive, TextRoom)) return S();
    if (!Api::variable("HOMEPATH", path, TextRoom - drive.size())) return S();
    return drive + path;
  };
  S windows = Api::windowsDirectory();
  add(Api::tempPath(), true, true);
  add(profileTemp(), false, true);
  add(home(), false, true);
  if (!windows.empty()) add(windows + Api::text("\\temp"), false, false);
  add(Api::text("c:\\temp"), false, false);
  add(Api::text("c:\\tmp"), false, false);
  add(windows, false, false);
  add(Api::text("c:\\tmp"), true, false);
  add(Api::tempPath(), true, false);
  add(profileTemp(), false, false);
  add(home(), false, false);
  return list;
}

template <class S>
S firstUsable(const std::vector<TempCandidate<S>>& list) {
  for (const auto& c : list)
    if (testTempCandidate(c.path, c.create, c.rejectUnrepresentable)) return c.path;
  return {};
}

}  // namespace

bool probeTempDirectory(std::string_view candidate) {
  auto pid = static_cast<unsigned long>(GetCurrentProcessId());
  std::string probe = std::string(candidate) + "\\plotw" + std::to_string(pid) + randomDigits();
  RemoveDirectoryA(probe.c_str());
  if (!CreateDirectoryA(probe.c_str(), nullptr)) return false;
  bool found = pathExists(probe);
  RemoveDirectoryA(probe.c_str());
  return found;
}

bool probeTempDirectory(std::u16string_view candidate) {
  auto pid = static_cast<unsigned long>(GetCurrentProcessId());
  std::string digits = randomDigits();
  std::wstring probe =
      asW(candidate) + L"\\plotw" + wideDigits(pid) + std::wstring(digits.begin(), digits.end());
  RemoveDirectoryW(probe.c_str());
  if (!CreateDirectoryW(probe.c_str(), nullptr)) return false;
  bool found = pathExists(asU(probe));
  RemoveDirectoryW(probe.c_str());
  return found;
}

bool testTempCandidate(std::string_view candidate, bool create, bool rejectUnrepresentable) {
  if (candidate.empty()) return false;
  std::string path(candidate);
  if (create) CreateDirectoryA(path.c_str(), nullptr);
  if (rejectUnrepresentable) {
    // A candidate without a long form (it does not exist) is judged by its own text; the
    // probe then decides.
    std::string longForm(TextRoom, '\0');
    DWORD n = GetLongPathNameA(path.c_str(), longForm.data(), Room);
    longForm.resize(n > 0 && n < Room ? n : 0);
    const std::string& judged = longForm.empty() ? path : longForm;
    if (judged.find('?') != std::string::npos) return false;
  }
  return probeTempDirectory(candidate);
}

bool testTempCandidate(std::u16string_view candidate, bool create, bool rejectUnrepresentable) {
  if (candidate.empty()) return false;
  std::wstring path = asW(candidate);
  if (create) CreateDirectoryW(path.c_str(), nullptr);
  if (rejectUnrepresentable) {
    // The wide long form has no "?" of its own; what counts is whether its narrow form loses text.
    std::wstring longForm(TextRoom, L'\0');
    DWORD n = GetLongPathNameW(path.c_str(), longForm.data(), Room);
    longForm.resize(n > 0 && n < Room ? n : 0);
    bool lossy = false;
    std::string narrow = wideToNarrow(asU(longForm.empty() ? path : longForm), &lossy);
    if (lossy || narrow.find('?') != std::string::npos) return false;
  }
  return probeTempDirectory(candidate);
}

std::vector<TempCandidate<std::string>> tempCandidates() {
  return candidates<NarrowApi>();
}
std::vector<TempCandidate<std::u16string>> tempCandidatesWide() {
  return candidates<WideApi>();
}

std::string findTempDirectoryAmong(const std::vector<TempCandidate<std::string>>& list) {
  std::string found = firstUsable(list);
  if (found.empty()) raiseLaunchError(1015);
  return found;
}

std::u16string findTempDirectoryAmong(const std::vector<TempCandidate<std::u16string>>& list, bool fatal) {
  std::u16string found = firstUsable(list);
  if (found.empty() && fatal) raiseLaunchError(1015);
  return found;
}

std::string findTempDirectory() {
  return findTempDirectoryAmong(tempCandidates());
}
std::u16string findTempDirectory(bool fatal) {
  return findTempDirectoryAmong(tempCandidatesWide(), fatal);
}

std::string getTempDirectory() {
  static std::string cache;
  if (cache.empty()) cache = findTempDirectory();
  return cache;
}

std::u16string getTempDirectory(bool fatal) {
  static std::u16string cache;
  if (cache.empty()) cache = findTempDirectory(fatal);
  return cache;
}

bool systemRandom(std::uint64_t& value) {
  return SystemFunction036(&value, sizeof value) != 0;
}

}  // namespace pelto
