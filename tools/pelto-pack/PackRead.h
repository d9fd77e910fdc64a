#pragma once
// What reading a configuration and printing a block back share: the text helpers and the
// reader that turns one TOML value into block entries (dump builds each printed key again with
// it, to keep only what reads back the same).
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "PackKeys.h"
#include "PackTool.h"

#ifndef TOML_HEADER_ONLY
#define TOML_HEADER_ONLY 1
#endif
#include <toml++/toml.h>

namespace pelto::pack {

// The tables' rows by name or id; nullptr when there is none.
const MessageDef* messageByKey(std::string_view key);
const MessageDef* messageById(ConfigId id);
const KeyDef* keyDef(std::string_view table, std::string_view key);

// Numbers and versions as the launcher reads them.
bool canonicalInt(std::string_view text, long long& value);
bool parseId(std::string_view text, ConfigId& id);
bool allDigits(std::string_view s);
// "11-16": two major versions, the form the launcher compares numerically.
bool majorRange(std::string_view s);
// A version bound: numbers joined by ".", "_", "-" or "+", as the launcher splits them.
std::vector<long long> versionNumbers(std::string_view s, bool& ok);
// Some version lies within both bounds unless the minimum is above the maximum where both
// have numbers (an upper bound looks no further than its own length).
bool boundsMeet(std::string_view min, std::string_view max);

std::string slashesToBackslashes(std::string s);
std::string backslashesToSlashes(std::string s);
// One word of a command-line text, quoted so that the launcher's splitter gives it back whole
// also after variables in it were expanded (a folder may hold spaces).
std::optional<std::string> commandWord(const std::string& word);
// A TOML basic string holding the text.
std::string quote(std::string_view utf8);
std::vector<std::string> split(const std::string& text, char separator);
std::vector<std::string> namesOf(std::span<const std::string_view> values);
// Creates target, which must not exist yet (not even as a link), with data in it: "" or the
// reason it failed. What dump --extract writes goes through it, so nothing is overwritten.
std::string writeNewFile(const std::filesystem::path& target, const std::vector<unsigned char>& data);
// Keys that were renamed: " (now ...)" for an old name, else "".
std::string renamedHint(const std::string& what);

// Reads the values of a configuration into block entries. Every error is kept, so that one run
// shows a person all that is wrong; report() gives them in line order as "FILE:LINE: column C:
// text".
struct Reader {
  struct Problem {
    std::uint32_t line = 0;  // 0: the file as a whole
    std::uint32_t column = 0;
    std::string text;
  };
  std::string file;
  std::vector<Problem> problems;
  std::map<ConfigId, std::string> strings;
  std::map<ConfigId, std::u16string> wide;
  std::map<ConfigId, std::uint32_t> definedAt;  // line that set each id of the main tables
  // service.start, service.errors and application.windowed make one ExecutableType.
  std::optional<std::string> start, errors;
  std::optional<bool> windowed;
  std::optional<toml::source_region> serviceTypeAt, windowedAt;
  std::map<ConfigId, toml::source_region> valueAt;
  std::optional<bool> includeRuntime;
  std::optional<toml::source_region> runtimeJarAt;
  std::vector<std::filesystem::path> sources;  // the included files as read

  bool failLine(std::uint32_t line, const std::string& what, std::uint32_t column = 0);
  std::string report() const;
  bool fail(const toml::source_region& where, const std::string& what);
  // A value the launcher could not use: the key, the offending text and why.
  bool bad(const toml::node& node, std::string_view what, std::string_view text, const std::string& why);
  bool claim(ConfigId id, const toml::source_region& where);
  const std::string* text(const toml::node& node, std::string_view what);
  bool cp1252(const toml::node& node, std::string_view what, std::string& out);
  // A text of the string table: ASCII, which every code page reads the same.
  bool ansi(const toml::node& node, std::string_view what, std::string& out);
  bool utf16(const toml::node& node, std::string_view what, std::u16string& out);
  bool fits(const toml::node& node, std::string_view what, const std::string& shown, std::size_t length,
            std::size_t room);
  // A path: not empty, no ";" where lists are joined, either slash.
  bool path(const toml::node& node, std::string_view what, std::string& out, bool inList);
  bool oneOf(const toml::node& node, std::string_view what, std::span<const std::string_view> values,
             std::string& out);
  // Words for a command-line text: an array of words, or one string taken as it stands.
  bool words(const toml::node& node, std::string_view what, std::string& out);
  bool classPathEntry(const toml::node& item, std::string_view what, std::string& out);
  bool searchEntry(const toml::node& item, std::string_view what, std::string& out);
  bool splashTexts(const toml::node& node, std::string_view what, const KeyDef& def);
  bool versionOptions(const toml::node& node, std::string_view what);
  bool serviceType(const KeyDef& def, const toml::node& node, std::string_view what);
  // ExecutableType tells console or dialog, windowed, and automatic start; the start types it
  // cannot tell go to the start-type entry.
  bool finishServiceType();
  bool value(const KeyDef& def, const toml::node& node, std::string_view what);
  bool typedValue(const KeyDef& def, const toml::node& node, std::string_view what);
  // What one key's value may not be beyond its kind: things the launcher accepts but that never
  // work.
  bool usable(const KeyDef& def, const toml::node& node, std::string_view what);
  // One duration or size: the stored number as text.
  bool amount(const KeyDef& def, const toml::node& node, std::string_view what, std::string& out);
  // [service.environment]: NAME = "value", written as a count and one wide "NAME=value" each.
  bool environment(const toml::node& node, std::string_view what, const KeyDef& def);
  const toml::table* table(const toml::node& node, std::string_view what);
  bool section(std::string_view name, const toml::table& t);
  bool crossChecks();
  bool required();
  bool raw(const toml::table& t);
  bool locale(const toml::node& node, ConfigBlock& block);
  // [pack]: include-runtime (boolean), runtime-jar (path relative to the TOML file).
  bool pack(const toml::node& node, const std::filesystem::path& base, PackRequest& request);
  bool include(const toml::node& node, const std::filesystem::path& base, ConfigBlock& block);
};

}  // namespace pelto::pack
