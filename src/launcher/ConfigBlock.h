#pragma once
// The configuration block behind the launcher's last PE section: its reader (from any byte
// source, so the same code runs on a file handle and on memory) and its writer (used by the
// pack tool and by tests that need a packed configuration).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "launcher/Config.h"

namespace pelto {

constexpr std::uint32_t ConfigMagic = 0xE8E413D5;
constexpr unsigned char IncludedFileMask = 0xA7;
constexpr ConfigId IncludedFileCountId = 2002;
constexpr ConfigId IncludedFileNamesId = 2003;

// Where reading stopped, named by the primitive that met the short read.
enum class ConfigErrorKind { None, Open, Seek, ReadInt, ReadShort, ReadLong, ReadString, ReadWString, Magic };

struct ConfigError {
  ConfigErrorKind kind = ConfigErrorKind::None;
  std::uint32_t systemError = 0;  // the read's system error code (0 for a plain short read)
  std::uint32_t bytesRead = 0;    // what the failed read delivered
  explicit operator bool() const { return kind != ConfigErrorKind::None; }
};

// The literal fatal text of an error ("Internal Error: readInt", ...).
std::u16string configErrorText(const ConfigError& error);
// Logs the line the primitives table asks for before the fatal message (none for strings).
void logConfigError(const ConfigError& error);

// A readable, seekable run of bytes: memory, or an open file read through a buffer. A read
// reports what it got, so a short read at the end shows up exactly as one read call would.
// A file is read in large chunks: the block's primitives are a few bytes each, and one system
// call per primitive made a block of many entries slow to load.
class ByteSource {
 public:
  struct ReadResult {
    std::size_t count = 0;
    std::uint32_t systemError = 0;
  };
  // The file seams: one read call of at most size bytes, and an absolute seek.
  using FileRead = ReadResult (*)(void* handle, void* buffer, std::size_t size);
  using FileSeek = bool (*)(void* handle, std::uint64_t offset);
  static constexpr std::size_t ChunkSize = 64 * 1024;

  ByteSource() = default;
  static ByteSource overMemory(const unsigned char* data, std::size_t size);
  static ByteSource overFile(void* handle, std::uint64_t size, FileRead read, FileSeek seek);

  ReadResult read(void* buffer, std::size_t size);
  bool seek(std::uint64_t offset);
  std::uint64_t position() const { return pos_; }
  std::uint64_t remaining() const { return pos_ < size ? size - pos_ : 0; }

  std::uint64_t size = 0;  // total length, so that no length field may claim more than remains

 private:
  ReadResult fill();

  const unsigned char* memory_ = nullptr;
  void* handle_ = nullptr;
  FileRead fileRead_ = nullptr;
  FileSeek fileSeek_ = nullptr;
  std::uint64_t pos_ = 0;
  // The file's bytes [chunkStart_, chunkStart_ + chunk_.size()) and where the system's file
  // pointer stands (it moves only when a chunk is read).
  std::vector<unsigned char> chunk_;
  std::uint64_t chunkStart_ = 0;
  std::uint64_t filePointer_ = 0;
};

// A source over memory that the caller keeps alive.
ByteSource memorySource(const std::vector<unsigned char>& bytes);
#ifdef _WIN32
// A source over an open file handle (a Windows HANDLE) that the caller keeps open, starting
// at the file's current position. The handle's own file pointer runs ahead of the source.
ByteSource fileByteSource(void* handle);
// Opens the own executable for reading (sharing read and write); INVALID_HANDLE_VALUE on
// failure with the system error in *error. path receives the long path that was tried.
void* tryOpenOwnExecutable(std::u16string& path, std::uint32_t* error);
#endif

// The read primitives: one read each; a short read is an error naming the primitive.
ConfigError readInt(ByteSource& source, std::int32_t& value);
ConfigError readShort(ByteSource& source, std::int16_t& value);
ConfigError readLong(ByteSource& source, std::int64_t& value);
ConfigError readString(ByteSource& source, std::string& value);
ConfigError readWString(ByteSource& source, std::u16string& value);

// Positions the source at the first byte behind the last section's raw data, with log lines.
ConfigError seekAppendedData(ByteSource& source);
// The offset seekAppendedData would seek to, without logging (for the pack tool); false when
// the image is too short for the headers it names.
bool appendedDataOffset(const std::vector<unsigned char>& image, std::uint64_t& offset);

// The locale rule: a key matches when it equals the first strlen(key) characters of the name.
bool localeKeyMatches(std::string_view key, std::string_view localeName);

struct LocaleSection {
  std::string key;
  std::vector<std::pair<ConfigId, std::u16string>> entries;
};

struct IncludedFile {
  std::string name;  // relative name with backslashes, in the ANSI code page
  std::vector<unsigned char> data;
};

// A block as it lies on disk, in file order (duplicates kept, as they were written).
struct ConfigBlock {
  std::vector<std::pair<ConfigId, std::string>> strings;
  std::vector<std::pair<ConfigId, std::u16string>> wide;
  std::vector<LocaleSection> locales;
  std::vector<IncludedFile> files;
  // On: the writer puts the count and the names of `files` into 2002 and 2003 itself.
  bool describeFiles = true;
  // Written as they are after the included files (tests build odd sections with it).
  std::vector<unsigned char> trailer;
};

// The block's bytes: magic, reserved fields, tables, locale sections, included-files records.
std::vector<unsigned char> encodeConfigBlock(const ConfigBlock& block);
// One included-files record: 8-byte signed length and the masked bytes.
void appendIncludedRecord(std::vector<unsigned char>& out, const std::vector<unsigned char>& data);
// The smallest PE32+ image the location rule accepts (one empty section); for tests.
std::vector<unsigned char> minimalLauncherImage();

// Reads the tables and locale sections as they lie, from the source's current position (the
// magic first), leaving the source at the included-files section. No locale is applied.
ConfigError readConfigBlock(ByteSource& source, ConfigBlock& block);
// Reads the included-files records named by the block's 2002/2003 entries from the source's
// current position (used by the dump; the launcher extracts while reading).
ConfigError readIncludedFiles(ByteSource& source, ConfigBlock& block);

// Everything loadLauncherConfig does after opening the file: locate, read, apply the locale
// sections for localeName, set IncludedFilesOffset, LocaleLanguage, LocaleCountry and
// ErrorDialogMode. The tables are replaced, not merged.
// The locale is asked for only once the tables are read, as the launcher's log order has it.
ConfigError loadConfigFromSource(ByteSource& source, const std::function<std::string()>& detectLocaleName);
// The same over a whole executable image in memory; for tests.
ConfigError loadConfigFromBytes(const std::vector<unsigned char>& image, const std::string& localeName);

// Whether fatal messages keep the message box for an ExecutableType.
bool keepsErrorDialog(long executableType);

}  // namespace pelto
