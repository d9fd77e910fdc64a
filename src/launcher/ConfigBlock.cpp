#include "launcher/ConfigBlock.h"

#include <cstring>
#include <limits>

#include "launcher/Log.h"

namespace pelto {
namespace {

ConfigError fail(ConfigErrorKind kind, const ByteSource::ReadResult& r = {}) {
  ConfigError e;
  e.kind = kind;
  e.systemError = r.systemError;
  e.bytesRead = static_cast<std::uint32_t>(r.count);
  return e;
}

// One read call of exactly n bytes; anything less is a failure of the named primitive.
ConfigError readExact(ByteSource& source, void* buffer, std::size_t n, ConfigErrorKind kind) {
  ByteSource::ReadResult r = source.read(buffer, n);
  if (r.count != n) return fail(kind, r);
  return {};
}

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put64(std::vector<unsigned char>& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void putLength(std::vector<unsigned char>& out, std::size_t n) {
  put32(out, static_cast<std::uint32_t>(n));
}
void putString(std::vector<unsigned char>& out, std::string_view s) {
  putLength(out, s.size());
  out.insert(out.end(), s.begin(), s.end());
}
void putWString(std::vector<unsigned char>& out, std::u16string_view s) {
  putLength(out, s.size() * 2);
  for (char16_t c : s) {
    out.push_back(static_cast<unsigned char>(c & 0xFF));
    out.push_back(static_cast<unsigned char>(c >> 8));
  }
}

// The tables keep NUL-terminated texts: whatever follows an embedded NUL is never seen.
template <class S>
void cutAtNul(S& s) {
  auto n = s.find(typename S::value_type(0));
  if (n != S::npos) s.resize(n);
}

// Lengths are checked against what remains before anything is allocated, so a corrupt or
// hostile length can neither exhaust memory nor be negative.
ConfigError readLength(ByteSource& source, std::int32_t& length, ConfigErrorKind kind) {
  if (ConfigError e = readInt(source, length)) return e;
  if (length < 0 || static_cast<std::uint64_t>(length) > source.remaining()) return fail(kind);
  return {};
}

ConfigError readEntries(ByteSource& source, std::vector<std::pair<ConfigId, std::string>>& out) {
  std::int32_t count = 0;
  if (ConfigError e = readInt(source, count)) return e;
  for (std::int32_t i = 0; i < count; ++i) {
    std::int32_t id = 0;
    std::string text;
    if (ConfigError e = readInt(source, id)) return e;
    if (ConfigError e = readString(source, text)) return e;
    out.emplace_back(id, std::move(text));
  }
  return {};
}

ConfigError readWideEntries(ByteSource& source, std::vector<std::pair<ConfigId, std::u16string>>& out) {
  std::int32_t count = 0;
  if (ConfigError e = readInt(source, count)) return e;
  for (std::int32_t i = 0; i < count; ++i) {
    std::int32_t id = 0;
    std::u16string text;
    if (ConfigError e = readInt(source, id)) return e;
    if (ConfigError e = readWString(source, text)) return e;
    out.emplace_back(id, std::move(text));
  }
  return {};
}

}  // namespace

std::u16string configErrorText(const ConfigError& error) {
  switch (error.kind) {
    case ConfigErrorKind::None:
      return {};
    case ConfigErrorKind::Open:
      return u"Error opening media file.";
    case ConfigErrorKind::Seek:
      return u"Internal Error: seek";
    case ConfigErrorKind::ReadInt:
      return u"Internal Error: readInt";
    case ConfigErrorKind::ReadShort:
      return u"Internal Error: readShort";
    case ConfigErrorKind::ReadLong:
      return u"Internal Error: readLong";
    case ConfigErrorKind::ReadString:
      return u"Internal Error: readString";
    case ConfigErrorKind::ReadWString:
      return u"Internal Error: readWString";
    case ConfigErrorKind::Magic:
      return u"Internal Error: magic";
  }
  return {};
}

void logConfigError(const ConfigError& error) {
  switch (error.kind) {
    case ConfigErrorKind::ReadInt:
      logMessage(u"error %d %d\n", error.systemError, error.bytesRead);
      break;
    case ConfigErrorKind::ReadShort:
    case ConfigErrorKind::ReadLong:
      logMessage(u"error %d\n", error.systemError);
      break;
    default:
      break;
  }
}

ByteSource ByteSource::overMemory(const unsigned char* data, std::size_t length) {
  ByteSource s;
  s.memory_ = data;
  s.size = length;
  return s;
}

ByteSource ByteSource::overFile(void* handle, std::uint64_t length, FileRead read, FileSeek seekTo) {
  ByteSource s;
  s.handle_ = handle;
  s.size = length;
  s.fileRead_ = read;
  s.fileSeek_ = seekTo;
  return s;
}

// Reads the chunk at pos_. A failed read leaves an empty chunk and reports the system error.
ByteSource::ReadResult ByteSource::fill() {
  ReadResult r;
  chunk_.resize(ChunkSize);
  chunkStart_ = pos_;
  if (filePointer_ != pos_) {
    if (!fileSeek_(handle_, pos_)) {
      chunk_.clear();
      return r;
    }
    filePointer_ = pos_;
  }
  r = fileRead_(handle_, chunk_.data(), chunk_.size());
  chunk_.resize(r.count);
  filePointer_ += r.count;
  return r;
}

ByteSource::ReadResult ByteSource::read(void* buffer, std::size_t n) {
  ReadResult r;
  auto* out = static_cast<unsigned char*>(buffer);
  if (memory_ || !fileRead_) {
    if (pos_ < size) {
      std::uint64_t avail = size - pos_;
      r.count = static_cast<std::size_t>(n < avail ? n : avail);
      if (r.count) std::memcpy(out, memory_ + pos_, r.count);
      pos_ += r.count;
    }
    return r;
  }
  while (r.count < n) {
    if (pos_ < chunkStart_ || pos_ >= chunkStart_ + chunk_.size()) {
      ReadResult got = fill();
      if (got.count == 0) {
        r.systemError = got.systemError;
        break;
      }
    }
    std::size_t at = static_cast<std::size_t>(pos_ - chunkStart_);
    std::size_t take = chunk_.size() - at;
    if (take > n - r.count) take = n - r.count;
    std::memcpy(out + r.count, chunk_.data() + at, take);
    r.count += take;
    pos_ += take;
  }
  return r;
}

bool ByteSource::seek(std::uint64_t offset) {
  // A file offset is a signed 64-bit number, as the system's seek takes it.
  if (fileRead_ && offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return false;
  pos_ = offset;
  return true;
}

ByteSource memorySource(const std::vector<unsigned char>& bytes) {
  return ByteSource::overMemory(bytes.data(), bytes.size());
}

ConfigError readInt(ByteSource& source, std::int32_t& value) {
  unsigned char b[4];
  if (ConfigError e = readExact(source, b, 4, ConfigErrorKind::ReadInt)) return e;
  value = static_cast<std::int32_t>(le32(b));
  return {};
}

ConfigError readShort(ByteSource& source, std::int16_t& value) {
  unsigned char b[2];
  if (ConfigError e = readExact(source, b, 2, ConfigErrorKind::ReadShort)) return e;
  value = static_cast<std::int16_t>(b[0] | b[1] << 8);
  return {};
}

ConfigError readLong(ByteSource& source, std::int64_t& value) {
  unsigned char b[8];
  if (ConfigError e = readExact(source, b, 8, ConfigErrorKind::ReadLong)) return e;
  value = static_cast<std::int64_t>(static_cast<std::uint64_t>(le32(b)) |
                                    static_cast<std::uint64_t>(le32(b + 4)) << 32);
  return {};
}

ConfigError readString(ByteSource& source, std::string& value) {
  std::int32_t length = 0;
  if (ConfigError e = readLength(source, length, ConfigErrorKind::ReadString)) return e;
  value.assign(static_cast<std::size_t>(length), '\0');
  if (length > 0) {
    if (ConfigError e = readExact(source, value.data(), value.size(), ConfigErrorKind::ReadString)) return e;
  }
  cutAtNul(value);
  return {};
}

ConfigError readWString(ByteSource& source, std::u16string& value) {
  std::int32_t length = 0;
  if (ConfigError e = readLength(source, length, ConfigErrorKind::ReadWString)) return e;
  std::vector<unsigned char> raw(static_cast<std::size_t>(length));
  if (length > 0) {
    if (ConfigError e = readExact(source, raw.data(), raw.size(), ConfigErrorKind::ReadWString)) return e;
  }
  // An odd length leaves a stray byte that the NUL code unit covers: it is dropped.
  value.resize(raw.size() / 2);
  for (std::size_t i = 0; i < value.size(); ++i)
    value[i] = static_cast<char16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
  cutAtNul(value);
  return {};
}

ConfigError seekAppendedData(ByteSource& source) {
  std::int32_t peHeader = 0;
  std::int16_t sections = 0;
  std::int16_t optionalSize = 0;
  std::int32_t rawSize = 0;
  std::int32_t rawOffset = 0;
  // Offsets are 32-bit, as the format's are; a wrapped offset simply reads past the end.
  auto at = [&source](std::uint32_t offset) { return source.seek(offset); };
  if (!at(60)) return fail(ConfigErrorKind::Seek);
  if (ConfigError e = readInt(source, peHeader)) return e;
  std::uint32_t h = static_cast<std::uint32_t>(peHeader);
  if (!at(h + 6)) return fail(ConfigErrorKind::Seek);
  if (ConfigError e = readShort(source, sections)) return e;
  logMessage(u"number of sections: %d", sections);
  if (!at(h + 20)) return fail(ConfigErrorKind::Seek);
  if (ConfigError e = readShort(source, optionalSize)) return e;
  logMessage(u"size of optional headers: %d", optionalSize);
  std::uint32_t table =
      h + static_cast<std::uint32_t>(optionalSize) + 40u * static_cast<std::uint32_t>(sections) - 16u;
  logMessage(u"resSectionTableStart: %d", static_cast<std::int32_t>(table));
  if (!at(table + 16)) return fail(ConfigErrorKind::Seek);
  if (ConfigError e = readInt(source, rawSize)) return e;
  if (ConfigError e = readInt(source, rawOffset)) return e;
  logMessage(u"rawDataSize: %d, rawDataOffset: %d", rawSize, rawOffset);
  std::uint32_t start = static_cast<std::uint32_t>(rawOffset) + static_cast<std::uint32_t>(rawSize);
  if (!at(start)) return fail(ConfigErrorKind::Seek);
  return {};
}

bool appendedDataOffset(const std::vector<unsigned char>& image, std::uint64_t& offset) {
  auto u32 = [&image](std::uint64_t at, std::uint32_t& v) {
    if (at + 4 > image.size()) return false;
    v = le32(image.data() + at);
    return true;
  };
  auto u16 = [&image](std::uint64_t at, std::uint32_t& v) {
    if (at + 2 > image.size()) return false;
    v = static_cast<std::uint32_t>(static_cast<std::int16_t>(image[at] | image[at + 1] << 8));
    return true;
  };
  std::uint32_t h = 0, sections = 0, optionalSize = 0, rawSize = 0, rawOffset = 0;
  if (!u32(60, h) || !u16(std::uint64_t{h} + 6, sections) || !u16(std::uint64_t{h} + 20, optionalSize))
    return false;
  std::uint32_t table = h + optionalSize + 40u * sections - 16u;
  if (!u32(std::uint64_t{table} + 16, rawSize) || !u32(std::uint64_t{table} + 20, rawOffset)) return false;
  offset = static_cast<std::uint32_t>(rawOffset + rawSize);
  return true;
}

bool localeKeyMatches(std::string_view key, std::string_view localeName) {
  return localeName.substr(0, key.size()) == key;
}

void appendIncludedRecord(std::vector<unsigned char>& out, const std::vector<unsigned char>& data) {
  put64(out, static_cast<std::uint64_t>(data.size()));
  for (unsigned char b : data) out.push_back(static_cast<unsigned char>(b ^ IncludedFileMask));
}

std::vector<unsigned char> encodeConfigBlock(const ConfigBlock& block) {
  std::vector<std::pair<ConfigId, std::string>> strings = block.strings;
  if (block.describeFiles && !block.files.empty()) {
    std::string names;
    for (const IncludedFile& f : block.files) {
      if (!names.empty()) names += ';';
      names += f.name;
    }
    std::erase_if(strings, [](const auto& e) {
      return e.first == IncludedFileCountId || e.first == IncludedFileNamesId;
    });
    strings.emplace_back(IncludedFileCountId, std::to_string(block.files.size()));
    strings.emplace_back(IncludedFileNamesId, names);
  }
  std::vector<unsigned char> out;
  put32(out, ConfigMagic);
  put32(out, 0);
  put32(out, 0);
  put64(out, 0);
  putLength(out, strings.size());
  for (const auto& [id, text] : strings) {
    put32(out, static_cast<std::uint32_t>(id));
    putString(out, text);
  }
  putLength(out, block.wide.size());
  for (const auto& [id, text] : block.wide) {
    put32(out, static_cast<std::uint32_t>(id));
    putWString(out, text);
  }
  putLength(out, block.locales.size());
  for (const LocaleSection& section : block.locales) {
    putString(out, section.key);
    putLength(out, section.entries.size());
    for (const auto& [id, text] : section.entries) {
      put32(out, static_cast<std::uint32_t>(id));
      putWString(out, text);
    }
  }
  for (const IncludedFile& f : block.files) appendIncludedRecord(out, f.data);
  out.insert(out.end(), block.trailer.begin(), block.trailer.end());
  return out;
}

std::vector<unsigned char> minimalLauncherImage() {
  // DOS header with e_lfanew = 64, "PE\0\0", a file header naming one section and a PE32+
  // optional header of 240 bytes with linker alignments, then one section header whose raw data
  // lies from 512 to 640, leaving room for the header of a section the pack tool adds.
  constexpr std::uint32_t h = 64, optionalSize = 240;
  std::vector<unsigned char> image(640, 0);
  image[0] = 'M';
  image[1] = 'Z';
  auto set16 = [&image](std::size_t at, std::uint32_t v) {
    image[at] = static_cast<unsigned char>(v);
    image[at + 1] = static_cast<unsigned char>(v >> 8);
  };
  auto set32 = [&image](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      image[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
  };
  set32(60, h);
  std::memcpy(image.data() + h, "PE\0\0", 4);
  set16(h + 4, 0x8664);  // x86-64
  set16(h + 6, 1);
  set16(h + 20, optionalSize);
  set16(h + 22, 0x0022);       // executable, large-address aware
  set16(h + 24, 0x020B);       // PE32+
  set32(h + 24 + 32, 0x1000);  // section alignment
  set32(h + 24 + 36, 0x200);   // file alignment
  set32(h + 24 + 56, 0x2000);  // image size
  set32(h + 24 + 60, 512);     // headers
  set32(h + 24 + 108, 16);     // data directories
  std::size_t section = h + 24 + optionalSize;
  std::memcpy(image.data() + section, ".text\0\0\0", 8);
  set32(section + 8, 128);      // virtual size
  set32(section + 12, 0x1000);  // address
  set32(section + 16, 128);     // raw size
  set32(section + 20, 512);     // raw pointer
  return image;
}

ConfigError readConfigBlock(ByteSource& source, ConfigBlock& block) {
  block = ConfigBlock{};
  std::int32_t magic = 0;
  if (ConfigError e = readInt(source, magic)) return e;
  if (static_cast<std::uint32_t>(magic) != ConfigMagic) return fail(ConfigErrorKind::Magic);
  std::int32_t reserved = 0;
  std::int64_t reservedLong = 0;
  if (ConfigError e = readInt(source, reserved)) return e;
  if (ConfigError e = readInt(source, reserved)) return e;
  if (ConfigError e = readLong(source, reservedLong)) return e;
  if (ConfigError e = readEntries(source, block.strings)) return e;
  if (ConfigError e = readWideEntries(source, block.wide)) return e;
  std::int32_t sections = 0;
  if (ConfigError e = readInt(source, sections)) return e;
  for (std::int32_t i = 0; i < sections; ++i) {
    LocaleSection section;
    if (ConfigError e = readString(source, section.key)) return e;
    if (ConfigError e = readWideEntries(source, section.entries)) return e;
    block.locales.push_back(std::move(section));
  }
  return {};
}

ConfigError readIncludedFiles(ByteSource& source, ConfigBlock& block) {
  block.files.clear();
  long count = 0;
  std::string names;
  for (const auto& [id, text] : block.strings) {
    if (id == IncludedFileCountId) count = std::strtol(text.c_str(), nullptr, 10);
    if (id == IncludedFileNamesId) names = text;
  }
  // Runs of separators count as one, as the extraction's tokeniser treats them.
  std::size_t p = 0;
  while (static_cast<long>(block.files.size()) < count) {
    p = names.find_first_not_of(';', p);
    if (p == std::string::npos) break;
    std::size_t end = names.find(';', p);
    if (end == std::string::npos) end = names.size();
    IncludedFile f;
    f.name = names.substr(p, end - p);
    p = end;
    std::int64_t length = 0;
    if (ConfigError e = readLong(source, length)) return e;
    if (length > 0) {
      if (static_cast<std::uint64_t>(length) > source.remaining()) return fail(ConfigErrorKind::ReadLong);
      f.data.resize(static_cast<std::size_t>(length));
      if (ConfigError e = readExact(source, f.data.data(), f.data.size(), ConfigErrorKind::ReadLong))
        return e;
      for (unsigned char& b : f.data) b = static_cast<unsigned char>(b ^ IncludedFileMask);
    }
    block.files.push_back(std::move(f));
  }
  return {};
}

bool keepsErrorDialog(long executableType) {
  return executableType == 1 || executableType == 5;
}

ConfigError loadConfigFromSource(ByteSource& source, const std::function<std::string()>& detectLocaleName) {
  LauncherConfig = LauncherConfigTables{};
  if (ConfigError e = seekAppendedData(source)) return e;
  ConfigBlock block;
  // Tables are filled as the reader goes, so that a truncated block leaves what came before.
  ConfigError e = readConfigBlock(source, block);
  for (auto& [id, text] : block.strings) LauncherConfig.strings[id] = std::move(text);
  for (auto& [id, text] : block.wide) LauncherConfig.wide[id] = std::move(text);
  if (e) return e;
  std::string localeName = detectLocaleName();
  LocaleLanguage = localeName.substr(0, 2);
  LocaleCountry = localeName.size() == 5 ? localeName.substr(3, 2) : std::string();
  std::string_view name(localeName.c_str());
  for (LocaleSection& section : block.locales) {
    if (!localeKeyMatches(section.key, name)) continue;
    for (auto& [id, text] : section.entries) LauncherConfig.wide[id] = std::move(text);
  }
  IncludedFilesOffset = static_cast<std::uint32_t>(source.position());
  if (!keepsErrorDialog(getConfigInt(107))) ErrorDialogMode = false;
  return {};
}

ConfigError loadConfigFromBytes(const std::vector<unsigned char>& image, const std::string& localeName) {
  ByteSource source = memorySource(image);
  return loadConfigFromSource(source, [&localeName] { return localeName; });
}

}  // namespace pelto
