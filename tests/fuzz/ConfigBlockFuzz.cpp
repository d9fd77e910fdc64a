// The configuration block reader on arbitrary bytes behind a valid image header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/ConfigBlock.h"

namespace {

// A file that hands out at most a few bytes per read call, as a pipe or a network file may:
// the chunked file source must give exactly what the memory source gives.
struct TrickleFile {
  const std::vector<unsigned char>* bytes;
  std::uint64_t pos;
  std::size_t most;
};

pelto::ByteSource::ReadResult trickleRead(void* handle, void* buffer, std::size_t size) {
  auto* f = static_cast<TrickleFile*>(handle);
  pelto::ByteSource::ReadResult r;
  if (f->pos >= f->bytes->size()) return r;
  std::size_t n = size < f->most ? size : f->most;
  std::size_t avail = static_cast<std::size_t>(f->bytes->size() - f->pos);
  r.count = n < avail ? n : avail;
  std::memcpy(buffer, f->bytes->data() + f->pos, r.count);
  f->pos += r.count;
  return r;
}

bool trickleSeek(void* handle, std::uint64_t offset) {
  static_cast<TrickleFile*>(handle)->pos = offset;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<unsigned char> image = pelto::minimalLauncherImage();
  image.insert(image.end(), data, data + size);
  pelto::ConfigError e = pelto::loadConfigFromBytes(image, "de_CH");
  // A block that loads leaves the included files inside the image.
  if (!e && pelto::IncludedFilesOffset > image.size()) std::abort();
  auto strings = pelto::LauncherConfig.strings;
  auto wide = pelto::LauncherConfig.wide;
  std::uint32_t offset = pelto::IncludedFilesOffset;
  TrickleFile file{&image, 0, static_cast<std::size_t>(1 + (size ? data[0] % 13 : 0))};
  pelto::ByteSource chunked = pelto::ByteSource::overFile(&file, image.size(), trickleRead, trickleSeek);
  pelto::ConfigError f = pelto::loadConfigFromSource(chunked, [] { return std::string("de_CH"); });
  if (f.kind != e.kind || f.bytesRead != e.bytesRead || pelto::LauncherConfig.strings != strings ||
      pelto::LauncherConfig.wide != wide || (!e && pelto::IncludedFilesOffset != offset))
    std::abort();
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
