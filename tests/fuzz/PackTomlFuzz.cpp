// The pack tool's TOML reader on arbitrary text. What it accepts must print back as TOML that
// builds the same block.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "PackTool.h"

namespace {

std::filesystem::path scratchFile(const char* name) {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("pelto-toml-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir / name;
}

void writeFile(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pelto;
  const auto input = scratchFile("input.toml");
  writeFile(input, std::string(reinterpret_cast<const char*>(data), size));
  ConfigBlock block;
  std::string error;
  if (!pack::blockFromToml(input, block, error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  std::ostringstream printed;
  if (!pack::blockToToml(block, std::nullopt, printed, error)) return 0;
  const auto again = scratchFile("again.toml");
  writeFile(again, printed.str());
  ConfigBlock reread;
  if (block.files.empty()) {
    if (!pack::blockFromToml(again, reread, error)) std::abort();
    if (encodeConfigBlock(reread) != encodeConfigBlock(block)) std::abort();
  }
  return 0;
}
