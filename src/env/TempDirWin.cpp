// The temporary directory: a fixed list of candidates, each proven writable by a probe
// directory, and the per-launch directory beneath it.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr DWORD Room = static_cast<DWORD>(TextRoom);

// Seeded per use from the process id and the time, so concurrent launches draw apart.
int drawRandom() {
  auto pid = static_cast<unsigned>(GetCurrentProcessId());
  auto now = static_cast<unsigned>(std::time(nullptr));
  std::srand(pid * now);
  return std::rand();
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

// A name GetTempFileNameA made (and created as an empty file) ends in ".tmp".
bool borrowedTempFile(const std::string& name) {
  return name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".tmp") == 0;
}

using UniqueLocal = UniqueAny<HLOCAL, LocalFree>;

// The user this process runs as, as SID text; "" when it cannot be told.
std::wstring currentUserSid() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return {};
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) return {};
  UniqueLocal owned(text);
  return text;
}

// Full control for this user, SYSTEM and Administrators, passed on to everything made inside.
// Protected: the temp folder's own entries (C:\Windows\Temp lets every user create files and
// folders) are not inherited, so nobody else can plant or swap a file before the JVM loads it.
UniqueLocal launchFolderSecurity() {
  std::wstring sid = currentUserSid();
  if (sid.empty()) return UniqueLocal();
  std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return UniqueLocal();
  return UniqueLocal(descriptor);
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
  std::string probe = std::string(candidate) + "\\plotw" + std::to_string(pid) + std::to_string(drawRandom());
  RemoveDirectoryA(probe.c_str());
  if (!CreateDirectoryA(probe.c_str(), nullptr)) return false;
  bool found = pathExists(probe);
  RemoveDirectoryA(probe.c_str());
  return found;
}

bool probeTempDirectory(std::u16string_view candidate) {
  auto pid = static_cast<unsigned long>(GetCurrentProcessId());
  std::wstring probe =
      asW(candidate) + L"\\plotw" + wideDigits(pid) + wideDigits(static_cast<unsigned>(drawRandom()));
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

std::string makeTempFileName() {
  std::string dir = getTempDirectory();
  logMessage(u"tempPath is %S", dir);
  std::string name(TextRoom, '\0');
  std::string result;
  if (GetTempFileNameA(dir.c_str(), "plo", 0, name.data()) != 0) {
    result = name.c_str();
  } else {
    logMessage(u"GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
    result = dir;
    if (result.empty() || (result.back() != '\\' && result.back() != '/')) result += '\\';
    result += "plo" + std::to_string(drawRandom());
  }
  logMessage(u"tempFile is %S", result);
  return result;
}

void createLauncherTempDir() {
  UniqueLocal descriptor = launchFolderSecurity();
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  // Without its own protection the folder would inherit whatever the temp folder allows.
  for (int attempt = 0; descriptor && attempt < 10; ++attempt) {
    std::string name = makeTempFileName();
    LauncherTempDir = name + "_dir" + std::to_string(static_cast<long long>(std::time(nullptr)));
    logMessage(u"Temp dir3: %S", LauncherTempDir);
    // A folder of that name that already stands is never taken over: the attempt fails.
    bool made = CreateDirectoryA(LauncherTempDir.c_str(), &security) != 0;
    DWORD error = GetLastError();
    // The empty file only lent its unique name; once the directory stands (or the attempt
    // failed) it would be litter left by every launch. The fall-back name made no file.
    if (borrowedTempFile(name)) DeleteFileA(name.c_str());
    if (made) return;
    logMessage(u"Could not create dir (%d)", static_cast<int>(error));
  }
  if (!descriptor)
    logError(u"no security descriptor for the launch folder (%d)", static_cast<int>(GetLastError()));
  LauncherTempDir.clear();
  raiseLaunchError(1009, std::string_view("7"));
}

}  // namespace pelto
