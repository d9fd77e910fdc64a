// pelto-pack's entry point.
#include <iostream>

#include "PackTool.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::filesystem::path ownPath(const char* argv0) {
#ifdef _WIN32
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n > 0 && n < path.size()) return std::filesystem::path(path.substr(0, n));
#else
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return self;
#endif
  return std::filesystem::absolute(argv0 ? argv0 : "pelto-pack");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return pelto::pack::runPackTool(args, ownPath(argc > 0 ? argv[0] : nullptr), std::cout, std::cerr);
}
