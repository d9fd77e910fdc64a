// Text helpers shared by reading a configuration and printing a block back.
#include <algorithm>
#include <cstdio>

#include "PackRead.h"

namespace pelto::pack {

const MessageDef* messageByKey(std::string_view key) {
  for (const MessageDef& m : messageTable())
    if (m.key == key) return &m;
  return nullptr;
}
const MessageDef* messageById(ConfigId id) {
  for (const MessageDef& m : messageTable())
    if (m.id == id) return &m;
  return nullptr;
}
const KeyDef* keyDef(std::string_view table, std::string_view key) {
  for (const KeyDef& d : keyTable())
    if (d.table == table && d.key == key) return &d;
  return nullptr;
}

bool canonicalInt(std::string_view text, long long& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::to_string(value) == text;
}

bool parseId(std::string_view text, ConfigId& id) {
  long long v = 0;
  if (!canonicalInt(text, v) || v < INT32_MIN || v > INT32_MAX) return false;
  id = static_cast<ConfigId>(v);
  return true;
}

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "11-16": two major versions, the form the launcher compares numerically.
bool majorRange(std::string_view s) {
  std::size_t dash = s.find('-');
  return dash != std::string_view::npos && allDigits(s.substr(0, dash)) && allDigits(s.substr(dash + 1));
}

// A version bound: numbers joined by ".", "_", "-" or "+", as the launcher splits them.
std::vector<long long> versionNumbers(std::string_view s, bool& ok) {
  std::vector<long long> out;
  ok = !s.empty();
  std::size_t p = 0;
  while (ok && p <= s.size()) {
    std::size_t e = std::min(s.find_first_of("._-+", p), s.size());
    std::string_view part = s.substr(p, e - p);
    long long n = 0;
    ok = allDigits(part) && part.size() < 10 &&
         std::from_chars(part.data(), part.data() + part.size(), n).ec == std::errc();
    out.push_back(n);
    p = e + 1;
  }
  return out;
}

// Some version lies within both bounds unless the minimum is above the maximum where both
// have numbers (an upper bound looks no further than its own length).
bool boundsMeet(std::string_view min, std::string_view max) {
  bool ok1 = false, ok2 = false;
  std::vector<long long> a = versionNumbers(min, ok1), b = versionNumbers(max, ok2);
  if (!ok1 || !ok2) return true;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) return a[i] < b[i];
  return true;
}

std::string slashesToBackslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}
std::string backslashesToSlashes(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

// One word of a command-line text, quoted so that the launcher's splitter gives it back whole
// also after variables in it were expanded (a folder may hold spaces).
std::optional<std::string> commandWord(const std::string& word) {
  bool plain = !word.empty() && word.find_first_of(" \"'%") == std::string::npos &&
               word.find("${") == std::string::npos;
  if (plain) return word;
  if (word.find('"') == std::string::npos) return "\"" + word + "\"";
  if (word.find('\'') == std::string::npos) return "'" + word + "'";
  return std::nullopt;
}

std::string quote(std::string_view utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04X", c);
          out += buf;
        } else {
          out.push_back(ch);
        }
    }
  }
  return out + "\"";
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  std::size_t p = 0;
  for (;;) {
    std::size_t e = text.find(separator, p);
    parts.push_back(text.substr(p, e == std::string::npos ? std::string::npos : e - p));
    if (e == std::string::npos) return parts;
    p = e + 1;
  }
}

std::vector<std::string> namesOf(std::span<const std::string_view> values) {
  return {values.begin(), values.end()};
}

// Keys that were renamed: the old name and where its value went.
constexpr std::pair<std::string_view, std::string_view> Renamed[] = {
    {"service.executable-type", "service.start, service.errors and application.windowed"},
    {"application.main-class-in-module", "application.main-class = \"module/class\""},
    {"application.j-arguments-to-jvm", "jvm.pass-j-arguments"},
    {"classpath", "application.classpath and application.module-path"},
    {"classpath.entries", "application.classpath"},
    {"classpath.module-path", "application.module-path"},
    {"java.search-sequence", "java.search"},
    {"launcher-class", "[output] stdout, stderr and append"},
    {"splash.second-flag", "splash.option"},
};

std::string renamedHint(const std::string& what) {
  for (const auto& [old, now] : Renamed)
    if (what == old) return " (now " + std::string(now) + ")";
  if (what.starts_with("splash.item")) return " (now splash.texts)";
  return "";
}

}  // namespace pelto::pack
