// Reading the configuration block through a Windows file handle.
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ConfigBlock.h"

namespace pelto {

void* tryOpenOwnExecutable(std::u16string& path, std::uint32_t* error) {
  path = getExecutablePathWide();
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
