// The configuration block reader on arbitrary bytes behind a valid image header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "launcher/ConfigBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<unsigned char> image = pelto::minimalLauncherImage();
  image.insert(image.end(), data, data + size);
  pelto::ConfigError e = pelto::loadConfigFromBytes(image, "de_CH");
  // A block that loads leaves the included files inside the image.
  if (!e && pelto::IncludedFilesOffset > image.size()) std::abort();
  pelto::ByteSource source = pelto::memorySource(image);
  pelto::ConfigBlock block;
  if (!pelto::seekAppendedData(source) && !pelto::readConfigBlock(source, block)) {
    pelto::readIncludedFiles(source, block);
    // What was read is written back the same way.
    std::vector<unsigned char> again = pelto::encodeConfigBlock(block);
    if (again.size() > size + 64 * block.files.size() + 64) std::abort();
  }
  return 0;
}
