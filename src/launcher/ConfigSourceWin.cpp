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

namespace {

ByteSource::ReadResult readFileOnce(void* handle, void* buffer, std::size_t n) {
  ByteSource::ReadResult r;
  DWORD got = 0;
  DWORD want = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(n);
  if (!ReadFile(handle, buffer, want, &got, nullptr)) r.systemError = GetLastError();
  r.count = got;
  return r;
}

bool seekFile(void* handle, std::uint64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

ByteSource fileByteSource(void* handle) {
  LARGE_INTEGER size{}, zero{}, now{};
  std::uint64_t length = GetFileSizeEx(handle, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  ByteSource s = ByteSource::overFile(handle, length, readFileOnce, seekFile);
  if (SetFilePointerEx(handle, zero, &now, FILE_CURRENT) && now.QuadPart > 0)
    s.seek(static_cast<std::uint64_t>(now.QuadPart));
  return s;
}

}  // namespace pelto
