// Reading the configuration block through a Windows file handle.
#include <windows.h>

#include "env/TextConv.h"
#include "launcher/ConfigBlock.h"

namespace pelto {
namespace {

// The full (long) path of this executable, however long it is.
std::u16string ownExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return asU(path);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

void* tryOpenOwnExecutable(std::u16string& path, std::uint32_t* error) {
  path = ownExecutablePath();
  HANDLE h = CreateFileW(wptr(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && error) *error = GetLastError();
  return h;
}

ByteSource fileByteSource(void* handle) {
  ByteSource s;
  LARGE_INTEGER size{};
  s.size = GetFileSizeEx(handle, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  s.read = [handle](void* buffer, std::size_t n) {
    ByteSource::ReadResult r;
    DWORD got = 0;
    // The block's reads are small; a larger request is capped and shows up as a short read.
    DWORD want = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(n);
    if (!ReadFile(handle, buffer, want, &got, nullptr)) r.systemError = GetLastError();
    r.count = got;
    return r;
  };
  s.seek = [handle](std::uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
  };
  s.position = [handle]() -> std::uint64_t {
    LARGE_INTEGER zero{}, now{};
    if (!SetFilePointerEx(handle, zero, &now, FILE_CURRENT)) return 0;
    return static_cast<std::uint64_t>(now.QuadPart);
  };
  return s;
}

}  // namespace pelto
