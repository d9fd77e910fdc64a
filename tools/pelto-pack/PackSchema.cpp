// The TOML configuration of a service: reading it into a block (with every value checked against
// what the launcher accepts) and printing a block back as the TOML that builds it again.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "PackKeys.h"
#include "PackTool.h"
#include "env/Extract.h"
#include "env/TextConv.h"
#include "launcher/CommandLine.h"

#ifndef TOML_HEADER_ONLY
#define TOML_HEADER_ONLY 1
#endif
#include <toml++/toml.h>

namespace pelto::pack {
namespace {

namespace cid = config_id;

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

// ---------------------------------------------------------------------------------------------
// Reading

struct Reader {
  std::string file;
  std::string error;
  std::map<ConfigId, std::string> strings;
  std::map<ConfigId, std::u16string> wide;
  std::map<ConfigId, std::uint32_t> definedAt;  // line that set each id of the main tables
  // service.start, service.errors and application.windowed make one ExecutableType.
  std::optional<std::string> start, errors;
  std::optional<bool> windowed;
  std::optional<toml::source_region> serviceTypeAt, windowedAt;
  std::map<ConfigId, toml::source_region> valueAt;

  bool failLine(std::uint32_t line, const std::string& what) {
    if (error.empty()) error = file + ":" + std::to_string(line) + ": " + what;
    return false;
  }
  bool fail(const toml::source_region& where, const std::string& what) {
    return failLine(where.begin.line, "column " + std::to_string(where.begin.column) + ": " + what);
  }
  // A value the launcher could not use: the key, the offending text and why.
  bool bad(const toml::node& node, std::string_view what, std::string_view text, const std::string& why) {
    return fail(node.source(), std::string(what) + " = " + quote(text) + " " + why);
  }

  bool claim(ConfigId id, const toml::source_region& where) {
    auto [it, fresh] = definedAt.emplace(id, where.begin.line);
    if (fresh) return true;
    // Tables are visited in key order, not file order: name the later line as the fault.
    std::uint32_t first = std::min(it->second, where.begin.line);
    std::uint32_t second = std::max(it->second, where.begin.line);
    return failLine(second,
                    "ConfigId " + std::to_string(id) + " is already set on line " + std::to_string(first));
  }

  const std::string* text(const toml::node& node, std::string_view what) {
    const auto* s = node.as_string();
    if (!s) fail(node.source(), std::string(what) + " must be a string");
    return s ? &s->get() : nullptr;
  }

  bool ansi(const toml::node& node, std::string_view what, std::string& out) {
    const std::string* s = text(node, what);
    if (!s) return false;
    char32_t bad = 0;
    std::optional<std::string> narrow = toCp1252(*s, &bad);
    if (!narrow) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(bad));
      return fail(node.source(), std::string(what) + " \"" + *s + "\" has a character (" + code +
                                     ") that Windows-1252 cannot hold");
    }
    out = std::move(*narrow);
    return true;
  }

  bool utf16(const toml::node& node, std::string_view what, std::u16string& out) {
    const std::string* s = text(node, what);
    if (!s) return false;
    out = utf8ToUtf16(*s);
    return true;
  }

  bool fits(const toml::node& node, std::string_view what, const std::string& shown, std::size_t length,
            std::size_t room) {
    if (length <= room) return true;
    return bad(node, what, shown.substr(0, 40) + (shown.size() > 40 ? "..." : ""),
               "is " + std::to_string(length) + " long; the launcher reads at most " + std::to_string(room));
  }

  // A path: not empty, no ";" where lists are joined, either slash.
  bool path(const toml::node& node, std::string_view what, std::string& out, bool inList) {
    if (!ansi(node, what, out)) return false;
    const std::string& shown = node.as_string()->get();
    if (out.empty()) return bad(node, what, shown, "is empty (leave the key out instead)");
    if (inList && out.find(';') != std::string::npos)
      return bad(node, what, shown, "contains the separator ';'");
    out = slashesToBackslashes(out);
    return true;
  }

  bool oneOf(const toml::node& node, std::string_view what, std::span<const std::string_view> values,
             std::string& out) {
    const std::string* s = text(node, what);
    if (!s) return false;
    if (std::find(values.begin(), values.end(), *s) == values.end()) {
      std::string list;
      for (std::string_view v : values) list += (list.empty() ? "" : " | ") + quote(v);
      return bad(node, what, *s, "is not one of " + list + suggestion(*s, namesOf(values)));
    }
    out = *s;
    return true;
  }

  // Words for a command-line text: an array of words, or one string taken as it stands.
  bool words(const toml::node& node, std::string_view what, std::string& out) {
    if (node.is_string()) return ansi(node, what, out);
    const auto* a = node.as_array();
    if (!a) return fail(node.source(), std::string(what) + " must be an array of strings (one per word)");
    out.clear();
    for (const toml::node& item : *a) {
      std::string word;
      if (!ansi(item, what, word)) return false;
      std::optional<std::string> quoted = commandWord(word);
      if (!quoted)
        return bad(item, what, item.as_string()->get(),
                   "holds both kinds of quotes; no quoting keeps it one word");
      out += (out.empty() ? "" : " ") + *quoted;
    }
    return true;
  }

  bool classPathEntry(const toml::node& item, std::string_view what, std::string& out) {
    const toml::node* pathNode = &item;
    const toml::node* envNode = nullptr;
    bool optional = false;
    if (const toml::table* t = item.as_table()) {
      pathNode = nullptr;
      for (auto&& [k, v] : *t) {
        if (k.str() == "path") {
          pathNode = &v;
        } else if (k.str() == "env") {
          envNode = &v;
        } else if (k.str() == "optional") {
          if (!v.is_boolean()) return fail(v.source(), std::string(what) + " optional must be true or false");
          optional = v.as_boolean()->get();
        } else {
          return fail(k.source(), "unknown key \"" + std::string(k.str()) + "\" in " + std::string(what) +
                                      suggestion(k.str(), {"path", "env", "optional"}));
        }
      }
      if ((pathNode != nullptr) == (envNode != nullptr))
        return fail(item.source(), std::string(what) + " entry needs either path or env");
    } else if (!item.is_string()) {
      return fail(item.source(),
                  std::string(what) + " entries are strings or tables { path = ... } / { env = ... }");
    }
    char flag = optional ? '0' : '1';
    std::string name;
    if (envNode) {
      if (!ansi(*envNode, what, name)) return false;
      if (name.empty() || name.find_first_of("=;") != std::string::npos)
        return bad(*envNode, what, envNode->as_string()->get(), "is not an environment variable name");
      out = std::string("E") + flag + name;
      return true;
    }
    if (!path(*pathNode, what, name, true)) return false;
    const std::string& shown = pathNode->as_string()->get();
    char letter = 'A';
    if (name.size() > 2 && name.ends_with("\\*")) {
      letter = 'S';
      name.resize(name.size() - 2);
    } else if (name.size() > 1 && name.back() == '\\') {
      letter = 'D';
      name.pop_back();
    }
    if (name.find_first_of("*?") != std::string::npos)
      return bad(*pathNode, what, shown,
                 "has a wildcard; only a last \"/*\" (every archive of a folder) is understood");
    out = std::string(1, letter) + flag + name;
    return true;
  }

  bool searchEntry(const toml::node& item, std::string_view what, std::string& out) {
    if (item.is_string()) {
      static constexpr std::string_view Places[] = {"path", "registry"};
      std::string place;
      if (!oneOf(item, what, Places, place)) return false;
      out = place == "path" ? "S" : "Y";
      return true;
    }
    const toml::table* t = item.as_table();
    if (!t)
      return fail(item.source(),
                  std::string(what) + " entries are \"path\", \"registry\", { dir = ... } or { env = ... }");
    const toml::node *dir = nullptr, *env = nullptr;
    bool fallback = false;
    for (auto&& [k, v] : *t) {
      if (k.str() == "dir") {
        dir = &v;
      } else if (k.str() == "env") {
        env = &v;
      } else if (k.str() == "fallback") {
        if (!v.is_boolean()) return fail(v.source(), std::string(what) + " fallback must be true or false");
        fallback = v.as_boolean()->get();
      } else {
        return fail(k.source(), "unknown key \"" + std::string(k.str()) + "\" in " + std::string(what) +
                                    suggestion(k.str(), {"dir", "env", "fallback"}));
      }
    }
    if ((dir != nullptr) == (env != nullptr))
      return fail(item.source(), std::string(what) + " entry needs either dir or env");
    std::string name;
    if (env) {
      if (!ansi(*env, what, name)) return false;
      if (name.empty() || name.find_first_of("=;") != std::string::npos)
        return bad(*env, what, env->as_string()->get(), "is not an environment variable name");
      out = "E" + name;
      return true;
    }
    if (!path(*dir, what, name, true)) return false;
    out = (fallback ? "B" : "A") + name;
    return true;
  }

  bool splashTexts(const toml::node& node, std::string_view what, const KeyDef& def) {
    const auto* a = node.as_array();
    if (!a || a->size() > 4)
      return fail(node.source(),
                  std::string(what) + " must be an array of at most four { text, first, second } tables");
    for (std::size_t i = 0; i < a->size(); ++i) {
      const toml::table* t = (*a)[i].as_table();
      if (!t)
        return fail((*a)[i].source(),
                    std::string(what) + " entries are { text = ..., first = 0, second = 0 }");
      std::string textValue;
      long long numbers[2] = {0, 0};
      bool haveText = false;
      for (auto&& [k, v] : *t) {
        int which = k.str() == "first" ? 0 : k.str() == "second" ? 1 : -1;
        if (k.str() == "text") {
          if (!ansi(v, what, textValue) || !fits(v, what, textValue, textValue.size(), def.room))
            return false;
          haveText = true;
        } else if (which >= 0) {
          if (!v.is_integer() || v.as_integer()->get() < INT32_MIN || v.as_integer()->get() > INT32_MAX)
            return fail(v.source(),
                        std::string(what) + " " + std::string(k.str()) + " must be a 32-bit integer");
          numbers[which] = v.as_integer()->get();
        } else {
          return fail(k.source(), "unknown key \"" + std::string(k.str()) + "\" in " + std::string(what) +
                                      suggestion(k.str(), {"text", "first", "second"}));
        }
      }
      if (!haveText) return fail(t->source(), std::string(what) + " entry needs a text");
      for (ConfigId id : {cid::SplashText[i], cid::SplashFirst[i], cid::SplashSecond[i]})
        if (!claim(id, t->source())) return false;
      strings[cid::SplashText[i]] = textValue;
      strings[cid::SplashFirst[i]] = std::to_string(numbers[0]);
      strings[cid::SplashSecond[i]] = std::to_string(numbers[1]);
    }
    return true;
  }

  bool versionOptions(const toml::node& node, std::string_view what) {
    const auto* a = node.as_array();
    if (!a || (!a->empty() && !a->is_array_of_tables()))
      return fail(node.source(), std::string(what) + " must be an array of tables ([[jvm.version-options]])");
    if (!claim(cid::VersionOptionCount, node.source())) return false;
    ConfigId id = cid::VersionOptionCount + 1;
    for (const toml::node& item : *a) {
      const toml::table& t = *item.as_table();
      const toml::node* versions = nullptr;
      const toml::node* options = nullptr;
      for (auto&& [k, v] : t) {
        if (k.str() == "versions")
          versions = &v;
        else if (k.str() == "options")
          options = &v;
        else
          return fail(k.source(), "unknown key \"" + std::string(k.str()) + "\" in [[jvm.version-options]]" +
                                      suggestion(k.str(), {"versions", "options"}));
      }
      if (!versions || !options)
        return fail(t.source(), "[[jvm.version-options]] needs both versions and options");
      std::string condition;
      if (!claim(id, versions->source()) || !ansi(*versions, "jvm.version-options versions", condition))
        return false;
      if (condition.empty())
        return bad(*versions, "jvm.version-options versions", condition,
                   "is empty: give \"11-16\" or a pattern such as \"21*\"");
      if (!majorRange(condition)) {
        if (condition.find('-') != std::string::npos && allDigits(condition.substr(0, condition.find('-'))))
          return bad(*versions, "jvm.version-options versions", condition,
                     "is neither two major versions (\"11-16\") nor a pattern of the version text (\"21*\")");
        condition = "*" + condition;
      } else {
        std::size_t dash = condition.find('-');
        if (std::stoll(condition.substr(0, dash)) > std::stoll(condition.substr(dash + 1)))
          return bad(*versions, "jvm.version-options versions", condition, "starts above its end");
      }
      strings[id] = condition;
      if (!claim(id + 1, options->source()) ||
          !words(*options, "jvm.version-options options", strings[id + 1]))
        return false;
      id += 2;
    }
    strings[cid::VersionOptionCount] = std::to_string(a->size());
    return true;
  }

  bool serviceType(const KeyDef& def, const toml::node& node, std::string_view what) {
    if (!serviceTypeAt) serviceTypeAt = node.source();
    std::string v;
    if (def.kind == Kind::Windowed) {
      if (!node.is_boolean()) return fail(node.source(), std::string(what) + " must be true or false");
      windowed = node.as_boolean()->get();
      windowedAt = node.source();
      return true;
    }
    if (!oneOf(node, what, enumValues(def.kind), v)) return false;
    (def.kind == Kind::Start ? start : errors) = v;
    return true;
  }

  // ExecutableType tells console or dialog, windowed, and automatic start; the start types it
  // cannot tell go to the start-type entry.
  bool finishServiceType() {
    if (!serviceTypeAt) return true;
    if (windowed.value_or(false) && errors == "console")
      return fail(
          *windowedAt,
          "application.windowed = true shows its errors in dialogs; errors = \"console\" contradicts it");
    int type = windowed.value_or(false) ? 1 : errors == "dialog" ? 5 : start == "auto" ? 4 : 0;
    if (!claim(cid::ExecutableType, *serviceTypeAt)) return false;
    strings[cid::ExecutableType] = std::to_string(type);
    if (start && *start != "demand" && type != 4) {
      if (!claim(cid::ServiceStartType, *serviceTypeAt)) return false;
      strings[cid::ServiceStartType] = *start;
    }
    return true;
  }

  bool value(const KeyDef& def, const toml::node& node, std::string_view what) {
    switch (def.kind) {
      case Kind::Start:
      case Kind::Errors:
      case Kind::Windowed:
        return serviceType(def, node, what);
      case Kind::VersionOptions:
        return versionOptions(node, what);
      case Kind::SplashTexts:
        return splashTexts(node, what, def);
      case Kind::Environment:
        return environment(node, what, def);
      default:
        break;
    }
    if (!claim(def.id, node.source())) return false;
    valueAt[def.id] = node.source();
    std::string& out = strings[def.id];
    switch (def.kind) {
      case Kind::Text:
        return ansi(node, what, out) && fits(node, what, node.as_string()->get(), out.size(), def.room);
      case Kind::ServiceName: {
        if (!ansi(node, what, out)) return false;
        std::string why = checkServiceName(out);
        return why.empty() || bad(node, what, node.as_string()->get(), why);
      }
      case Kind::Wide: {
        strings.erase(def.id);
        std::u16string& w = wide[def.id];
        return utf16(node, what, w) && fits(node, what, node.as_string()->get(), w.size(), def.room);
      }
      case Kind::Flag:
        if (!node.is_boolean()) return fail(node.source(), std::string(what) + " must be true or false");
        out = node.as_boolean()->get() ? "1" : "0";
        return true;
      case Kind::Flavour:
        if (!oneOf(node, what, enumValues(def.kind), out)) return false;
        out = out == "pelto" ? "e" : "i";
        return true;
      case Kind::Version: {
        if (!ansi(node, what, out)) return false;
        bool ok = false;
        versionNumbers(out, ok);
        return ok || bad(node, what, out, "is not a Java version such as \"11\", \"17.0.2\" or \"1.8.0_45\"");
      }
      case Kind::MainClass: {
        if (!ansi(node, what, out)) return false;
        std::string why = checkMainClass(out);
        if (!why.empty()) return bad(node, what, node.as_string()->get(), why);
        if (out.find('/') != std::string::npos) {
          if (!claim(def.id2, node.source())) return false;
          strings[def.id2] = "1";
        }
        return true;
      }
      case Kind::Arguments:
        return words(node, what, out) && fits(node, what, out, out.size(), def.room);
      case Kind::List:
      case Kind::PathList:
      case Kind::ClassPath:
      case Kind::Search: {
        bool paths = def.kind == Kind::PathList;
        if (paths && node.is_string()) return path(node, what, out, true);
        const auto* a = node.as_array();
        if (!a) return fail(node.source(), std::string(what) + " must be an array");
        char separator = def.kind == Kind::List ? def.separator : ';';
        out.clear();
        for (const toml::node& item : *a) {
          std::string entry;
          bool ok = def.kind == Kind::ClassPath ? classPathEntry(item, what, entry)
                    : def.kind == Kind::Search  ? searchEntry(item, what, entry)
                    : paths                     ? path(item, what, entry, true)
                                                : ansi(item, what, entry);
          if (!ok) return false;
          if (def.kind == Kind::List && (entry.empty() || entry.find(separator) != std::string::npos))
            return bad(
                item, what, item.as_string()->get(),
                entry.empty() ? "is empty" : std::string("contains the separator '") + separator + "'");
          out += (out.empty() ? "" : std::string(1, separator)) + entry;
        }
        return fits(node, what, out, out.size(), def.room);
      }
      case Kind::Path:
        return path(node, what, out, false) && fits(node, what, out, out.size(), def.room);
      case Kind::RelativeFolder:
      case Kind::FolderName: {
        if (!path(node, what, out, false)) return false;
        const std::string& shown = node.as_string()->get();
        if (def.kind == Kind::FolderName && out.find_first_of("\\:") != std::string::npos)
          return bad(node, what, shown, "must be one folder name, without slashes or a drive");
        if (out.find(':') != std::string::npos || out.front() == '\\')
          return bad(node, what, shown,
                     "must be relative to the executable's folder (no drive, no leading slash)");
        return fits(node, what, out, out.size(), def.room);
      }
      case Kind::Output: {
        std::string target;
        if (!path(node, what, target, false) || !fits(node, what, target, target.size(), def.room))
          return false;
        if (!claim(def.id2, node.source())) return false;
        out = "1";
        strings[def.id2] = target;
        return true;
      }
      case Kind::Duration:
      case Kind::Size:
        return amount(def, node, what, out);
      case Kind::DurationList: {
        const auto* a = node.as_array();
        if (!a || a->empty())
          return fail(node.source(),
                      std::string(what) + " must be an array of durations such as [\"10s\", \"1m\"]");
        if (static_cast<long long>(a->size()) > def.max)
          return fail(node.source(), std::string(what) + " has " + std::to_string(a->size()) +
                                         " items; the launcher takes at most " + std::to_string(def.max));
        out.clear();
        for (const toml::node& item : *a) {
          std::string n;
          if (!amount(def, item, what, n)) return false;
          out += (out.empty() ? "" : std::string(1, def.separator)) + n;
        }
        return fits(node, what, out, out.size(), def.room);
      }
      case Kind::Count: {
        const auto* n = node.as_integer();
        if (!n || n->get() < 0 || n->get() > def.max)
          return fail(node.source(),
                      std::string(what) + " must be an integer from 0 to " + std::to_string(def.max));
        out = std::to_string(n->get());
        return true;
      }
      case Kind::Account:
      case Kind::VariableName: {
        if (!ansi(node, what, out)) return false;
        std::string why = def.kind == Kind::Account ? checkAccount(out) : checkVariableName(out);
        if (!why.empty()) return bad(node, what, node.as_string()->get(), why);
        return fits(node, what, out, out.size(), def.room);
      }
      default:
        return false;
    }
  }

  // One duration or size: the stored number as text.
  bool amount(const KeyDef& def, const toml::node& node, std::string_view what, std::string& out) {
    const std::string* s = text(node, what);
    if (!s) return false;
    std::optional<long long> n = def.kind == Kind::Size ? parseSize(*s) : parseDuration(*s, def.unit);
    if (!n)
      return bad(node, what, *s,
                 def.kind == Kind::Size ? "is not a size below 2GB such as \"10MB\""
                 : def.unit == 1000 ? "is not a duration in whole seconds such as \"30s\", \"5m\" or \"1d\""
                                    : "is not a duration such as \"30s\", \"5m\" or \"1d\"");
    out = std::to_string(*n);
    return true;
  }

  // [service.environment]: NAME = "value", written as a count and one wide "NAME=value" each.
  bool environment(const toml::node& node, std::string_view what, const KeyDef& def) {
    const toml::table* t = table(node, what);
    if (!t || t->empty()) return t != nullptr;
    if (static_cast<long long>(t->size()) > def.max)
      return fail(node.source(), std::string(what) + " has " + std::to_string(t->size()) +
                                     " variables; the launcher takes at most " + std::to_string(def.max));
    if (!claim(def.id, node.source())) return false;
    ConfigId id = def.id + 1;
    for (auto&& [k, v] : *t) {
      std::string name(k.str());
      std::string itemWhat = std::string(what) + "." + name;
      std::string why = checkVariableName(name);
      if (!why.empty()) return fail(k.source(), std::string(what) + " " + quote(name) + " " + why);
      std::u16string value;
      if (!utf16(v, itemWhat, value)) return false;
      if (value.find(u'\0') != std::u16string::npos)
        return bad(v, itemWhat, v.as_string()->get(), "holds a NUL character");
      std::u16string entry = utf8ToUtf16(name) + u"=" + value;
      if (!claim(id, v.source()) || !fits(v, itemWhat, v.as_string()->get(), entry.size(), def.room))
        return false;
      wide[id++] = std::move(entry);
    }
    strings[def.id] = std::to_string(t->size());
    return true;
  }

  const toml::table* table(const toml::node& node, std::string_view what) {
    const auto* t = node.as_table();
    if (!t) fail(node.source(), std::string(what) + " must be a table");
    return t;
  }

  bool section(std::string_view name, const toml::table& t) {
    for (const KeyDef& d : keyTable())
      if (d.table == name && d.kind == Kind::Environment) return value(d, t, name);
    for (auto&& [k, v] : t) {
      std::string what = std::string(name) + "." + std::string(k.str());
      if (name == "messages") {
        const MessageDef* m = messageByKey(k.str());
        std::vector<std::string> known;
        for (const MessageDef& d : messageTable()) known.emplace_back(d.key);
        if (!m) return fail(k.source(), "unknown message \"" + what + "\"" + suggestion(k.str(), known));
        if (!claim(m->id, v.source()) || !utf16(v, what, wide[m->id])) return false;
        continue;
      }
      if (std::find(tableNames().begin(), tableNames().end(), what) != tableNames().end()) {
        const toml::table* inner = table(v, what);
        if (!inner || !section(what, *inner)) return false;
        continue;
      }
      if (what == "service.password")
        return fail(k.source(),
                    "service.password is refused: passwords are never stored in the executable; "
                    "password-env names the variable /install reads it from (or /install asks)");
      const KeyDef* def = keyDef(name, k.str());
      if (!def) {
        std::vector<std::string> known;
        for (const KeyDef& d : keyTable())
          if (d.table == name) known.emplace_back(d.key);
        for (std::string_view n : tableNames())
          if (n.starts_with(std::string(name) + ".")) known.emplace_back(n.substr(name.size() + 1));
        std::string hint = renamedHint(what);
        return fail(k.source(),
                    "unknown key \"" + what + "\"" + (hint.empty() ? suggestion(k.str(), known) : hint));
      }
      if (!value(*def, v, what)) return false;
    }
    return true;
  }

  bool crossChecks() {
    auto min = strings.find(cid::MinVersion), max = strings.find(cid::MaxVersion);
    if (min != strings.end() && max != strings.end() && valueAt.count(cid::MaxVersion) &&
        valueAt.count(cid::MinVersion) && !boundsMeet(min->second, max->second))
      return fail(valueAt[cid::MaxVersion], "java.max-version = " + quote(max->second) +
                                                " is below java.min-version = " + quote(min->second));
    return true;
  }

  bool raw(const toml::table& t) {
    for (auto&& [k, v] : t) {
      bool narrow = k.str() == "strings";
      if (!narrow && k.str() != "wide")
        return fail(k.source(), "unknown key \"raw." + std::string(k.str()) + "\" (raw.strings or raw.wide)");
      const toml::table* entries = table(v, "raw." + std::string(k.str()));
      if (!entries) return false;
      for (auto&& [idKey, value] : *entries) {
        ConfigId id = 0;
        if (!parseId(idKey.str(), id))
          return fail(idKey.source(), "\"" + std::string(idKey.str()) + "\" is not a ConfigId");
        if (!claim(id, value.source())) return false;
        if (narrow ? !ansi(value, "raw string", strings[id]) : !utf16(value, "raw text", wide[id]))
          return false;
      }
    }
    return true;
  }

  bool locale(const toml::node& node, ConfigBlock& block) {
    const toml::table* t = table(node, "locale");
    if (!t) return false;
    LocaleSection section;
    std::map<ConfigId, std::u16string> entries;
    bool haveKey = false;
    for (auto&& [k, v] : *t) {
      if (k.str() == "key") {
        if (!ansi(v, "locale.key", section.key)) return false;
        haveKey = true;
      } else if (k.str() == "messages" || k.str() == "raw") {
        const toml::table* inner = table(v, "locale." + std::string(k.str()));
        if (!inner) return false;
        for (auto&& [ik, iv] : *inner) {
          ConfigId id = 0;
          if (k.str() == "messages") {
            const MessageDef* m = messageByKey(ik.str());
            if (!m) return fail(ik.source(), "unknown message \"" + std::string(ik.str()) + "\"");
            id = m->id;
          } else if (!parseId(ik.str(), id)) {
            return fail(ik.source(), "\"" + std::string(ik.str()) + "\" is not a ConfigId");
          }
          if (entries.count(id))
            return fail(iv.source(), "ConfigId " + std::to_string(id) + " is set twice in this locale");
          if (!utf16(iv, "locale text", entries[id])) return false;
        }
      } else {
        return fail(k.source(), "unknown key \"locale." + std::string(k.str()) + "\"");
      }
    }
    if (!haveKey) return fail(t->source(), "[[locale]] needs a key (for example \"de\" or \"de_CH\")");
    section.entries.assign(entries.begin(), entries.end());
    block.locales.push_back(std::move(section));
    return true;
  }

  // [pack]: include-runtime (boolean), runtime-jar (path relative to the TOML file).
  bool pack(const toml::node& node, const std::filesystem::path& base, PackRequest& request) {
    const toml::table* t = table(node, "pack");
    if (!t) return false;
    for (auto&& [k, v] : *t) {
      if (k.str() == "include-runtime") {
        if (!v.is_boolean()) return fail(v.source(), "pack.include-runtime must be true or false");
        includeRuntime = v.as_boolean()->get();
      } else if (k.str() == "runtime-jar") {
        if (!v.is_string()) return fail(v.source(), "pack.runtime-jar must be a string");
        std::filesystem::path path = pathFromText(v.as_string()->get());
        request.runtimeJar = path.is_relative() ? base / path : path;
        runtimeJarLine = v.source().begin.line;
      } else {
        return fail(k.source(), "unknown key \"pack." + std::string(k.str()) + "\"");
      }
    }
    return true;
  }
  std::optional<bool> includeRuntime;
  std::uint32_t runtimeJarLine = 0;

  bool include(const toml::node& node, const std::filesystem::path& base, ConfigBlock& block) {
    const toml::table* t = table(node, "include");
    if (!t) return false;
    const toml::node* source = nullptr;
    const toml::node* name = nullptr;
    for (auto&& [k, v] : *t) {
      if (k.str() == "source")
        source = &v;
      else if (k.str() == "name")
        name = &v;
      else
        return fail(k.source(), "unknown key \"include." + std::string(k.str()) + "\"");
    }
    if (!source || !source->is_string())
      return fail(t->source(), "[[include]] needs a source path (a string)");
    std::filesystem::path path = pathFromText(source->as_string()->get());
    if (path.is_relative()) path = base / path;
    IncludedFile entry;
    if (name) {
      if (!ansi(*name, "include.name", entry.name)) return false;
    } else {
      std::optional<std::string> n = toCp1252(pathText(path.filename()));
      if (!n) return fail(source->source(), "the file name of the source cannot be written in Windows-1252");
      entry.name = *n;
    }
    std::replace(entry.name.begin(), entry.name.end(), '/', '\\');
    const toml::source_region& at = name ? name->source() : source->source();
    // The launcher's own rule: a name it would refuse makes an executable that never starts.
    if (!isSafeIncludedName(entry.name))
      return fail(at,
                  "include name \"" + fromCp1252(entry.name) +
                      "\" cannot be extracted: it must be relative, without \"..\", a device name such as "
                      "\"nul\" or \"com1\", a trailing dot or space, or any of <>:\"|?*;");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
      return fail(source->source(), "included file " + pathText(path) + " does not exist");
    std::ifstream in(path, std::ios::binary);
    entry.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return fail(source->source(), "included file " + pathText(path) + " cannot be read");
    // Windows names ignore case, and a file cannot also be the folder of another.
    auto key = [](std::string n) {
      for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return n + "\\";
    };
    for (const IncludedFile& other : block.files)
      if (key(other.name).starts_with(key(entry.name)) || key(entry.name).starts_with(key(other.name)))
        return fail(at, "include name \"" + fromCp1252(entry.name) + "\" clashes with \"" +
                            fromCp1252(other.name) + "\"");
    block.files.push_back(std::move(entry));
    return true;
  }
};

// ---------------------------------------------------------------------------------------------
// Writing

// What dump prints for one key: the TOML value and the ids it stands for; a table of its own
// (the environment) is printed as its lines instead.
struct Printed {
  std::string value;
  std::vector<ConfigId> ids;
  std::vector<ConfigId> wideIds = {};
  std::vector<std::string> lines = {};
};

using Strings = std::map<ConfigId, std::string>;

std::optional<std::string> wordsValue(const std::string& text) {
  std::vector<std::string> parts;
  splitCommandLine(std::string_view(text), parts);
  std::string joined, out = "[";
  for (const std::string& p : parts) {
    std::optional<std::string> w = commandWord(p);
    if (!w) return quote(fromCp1252(text));
    joined += (joined.empty() ? "" : " ") + *w;
    out += (out.size() == 1 ? "" : ", ") + quote(fromCp1252(p));
  }
  return joined == text ? out + "]" : quote(fromCp1252(text));
}

std::string pathValue(const std::string& text) {
  return quote(fromCp1252(backslashesToSlashes(text)));
}

std::string arrayValue(const std::vector<std::string>& items) {
  if (items.size() <= 1) return "[" + (items.empty() ? std::string() : items[0]) + "]";
  std::string out = "[\n";
  for (const std::string& i : items) out += "  " + i + ",\n";
  return out + "]";
}

std::optional<std::string> classPathValue(const std::string& text) {
  std::vector<std::string> items;
  for (const std::string& e : split(text, ';')) {
    if (e.size() < 3 || (e[1] != '0' && e[1] != '1')) return std::nullopt;
    std::string name = e.substr(2);
    bool optional = e[1] == '0';
    std::string shown;
    switch (e[0]) {
      case 'E':
        items.push_back("{ env = " + quote(fromCp1252(name)) + (optional ? ", optional = true }" : " }"));
        continue;
      case 'A':
        shown = pathValue(name);
        break;
      case 'D':
        shown = pathValue(name + "\\");
        break;
      case 'S':
        shown = pathValue(name + "\\*");
        break;
      default:
        return std::nullopt;
    }
    items.push_back(optional ? "{ path = " + shown + ", optional = true }" : shown);
  }
  return arrayValue(items);
}

std::optional<std::string> searchValue(const std::string& text) {
  std::vector<std::string> items;
  for (const std::string& e : split(text, ';')) {
    if (e == "S" || e == "Y") {
      items.push_back(e == "S" ? "\"path\"" : "\"registry\"");
    } else if (!e.empty() && e[0] == 'E') {
      items.push_back("{ env = " + quote(fromCp1252(e.substr(1))) + " }");
    } else if (!e.empty() && (e[0] == 'A' || e[0] == 'B')) {
      items.push_back("{ dir = " + pathValue(e.substr(1)) + (e[0] == 'B' ? ", fallback = true }" : " }"));
    } else {
      return std::nullopt;
    }
  }
  return arrayValue(items);
}

std::optional<std::string> durationValue(long long n, long long unit) {
  static constexpr std::pair<std::string_view, long long> Units[] = {
      {"d", 86400000}, {"h", 3600000}, {"m", 60000}, {"s", 1000}, {"ms", 1}};
  for (const auto& [name, ms] : Units)
    if ((n * unit) % ms == 0 && n * unit >= ms)
      return quote(std::to_string(n * unit / ms) + std::string(name));
  return quote("0s");
}

std::optional<std::string> sizeValue(long long n) {
  static constexpr std::pair<std::string_view, long long> Units[] = {
      {"GB", 1024LL * 1024 * 1024}, {"MB", 1024 * 1024}, {"KB", 1024}, {"B", 1}};
  for (const auto& [name, bytes] : Units)
    if (n % bytes == 0 && n >= bytes) return quote(std::to_string(n / bytes) + std::string(name));
  return quote("0B");
}

// A bare TOML key when it is one, else a quoted one.
std::string tomlKey(const std::string& name) {
  bool bare = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
  });
  return bare ? name : quote(name);
}

std::optional<Printed> environmentValue(const KeyDef& def, const Strings& strings,
                                        const std::map<ConfigId, std::u16string>& wide) {
  long long count = 0;
  auto c = strings.find(def.id);
  if (c == strings.end() || !canonicalInt(c->second, count) || count < 1 || count > def.max)
    return std::nullopt;
  Printed p{"", {def.id}};
  for (ConfigId id = def.id + 1; id <= def.id + count; ++id) {
    auto entry = wide.find(id);
    std::size_t eq = entry == wide.end() ? 0 : entry->second.find(u'=');
    if (eq == 0 || eq == std::u16string::npos) return std::nullopt;
    p.lines.push_back(tomlKey(utf16ToUtf8(entry->second.substr(0, eq))) + " = " +
                      quote(utf16ToUtf8(entry->second.substr(eq + 1))));
    p.value += (p.value.empty() ? "{ " : ", ") + p.lines.back();
    p.wideIds.push_back(id);
  }
  p.value += " }";
  return p;
}

// The typed value of a key from the block's entries, before it is checked by building it again.
std::optional<Printed> printKey(const KeyDef& def, const Strings& strings,
                                const std::map<ConfigId, std::u16string>& wide) {
  if (def.kind == Kind::Wide) {
    auto it = wide.find(def.id);
    if (it == wide.end()) return std::nullopt;
    return Printed{quote(utf16ToUtf8(it->second)), {}, {def.id}};
  }
  if (def.kind == Kind::Environment) return environmentValue(def, strings, wide);
  if (def.kind == Kind::SplashTexts) {
    std::vector<std::string> items;
    Printed p;
    for (int i = 0; i < 4; ++i) {
      auto t = strings.find(cid::SplashText[i]), a = strings.find(cid::SplashFirst[i]),
           b = strings.find(cid::SplashSecond[i]);
      if (t == strings.end() || a == strings.end() || b == strings.end()) break;
      items.push_back("{ text = " + quote(fromCp1252(t->second)) + ", first = " + a->second +
                      ", second = " + b->second + " }");
      p.ids.insert(p.ids.end(), {cid::SplashText[i], cid::SplashFirst[i], cid::SplashSecond[i]});
    }
    if (items.empty()) return std::nullopt;
    p.value = arrayValue(items);
    return p;
  }
  if (def.kind == Kind::VersionOptions) {
    long long count = 0;
    auto c = strings.find(def.id);
    if (c == strings.end() || !canonicalInt(c->second, count) || count < 0 || count > 1000)
      return std::nullopt;
    Printed p{"", {def.id}};
    std::vector<std::string> items;
    for (ConfigId i = 0; i < count; ++i) {
      auto cond = strings.find(def.id + 1 + 2 * i), opts = strings.find(def.id + 2 + 2 * i);
      if (cond == strings.end() || opts == strings.end()) return std::nullopt;
      std::string versions = cond->second.starts_with("*") ? cond->second.substr(1) : cond->second;
      items.push_back("{ versions = " + quote(fromCp1252(versions)) +
                      ", options = " + *wordsValue(opts->second) + " }");
      p.ids.insert(p.ids.end(), {def.id + 1 + 2 * i, def.id + 2 + 2 * i});
    }
    p.value = arrayValue(items);
    return p;
  }
  auto it = strings.find(def.id);
  if (it == strings.end()) return std::nullopt;
  const std::string& text = it->second;
  Printed p{"", {def.id}};
  long long n = 0;
  switch (def.kind) {
    case Kind::Text:
    case Kind::ServiceName:
    case Kind::Version:
    case Kind::Account:
    case Kind::VariableName:
      p.value = quote(fromCp1252(text));
      break;
    case Kind::Count:
      if (!canonicalInt(text, n)) return std::nullopt;
      p.value = text;
      break;
    case Kind::DurationList: {
      std::vector<std::string> items;
      for (const std::string& part : split(text, def.separator)) {
        if (!canonicalInt(part, n) || n < 0) return std::nullopt;
        items.push_back(*durationValue(n, def.unit));
      }
      p.value = "[";
      for (std::size_t i = 0; i < items.size(); ++i) p.value += (i ? ", " : "") + items[i];
      p.value += "]";
      break;
    }
    case Kind::MainClass:
      p.value = quote(fromCp1252(text));
      if (strings.count(def.id2)) p.ids.push_back(def.id2);
      break;
    case Kind::Flag:
      if (text != "1" && text != "0") return std::nullopt;
      p.value = text == "1" ? "true" : "false";
      break;
    case Kind::Flavour:
      if (text != "e" && text != "i") return std::nullopt;
      p.value = quote(text == "e" ? "pelto" : "quorvanex");
      break;
    case Kind::Arguments:
      p.value = *wordsValue(text);
      break;
    case Kind::List: {
      std::vector<std::string> items;
      for (const std::string& part : split(text, def.separator)) items.push_back(quote(fromCp1252(part)));
      p.value = "[" + std::string() + (items.empty() ? "" : items[0]);
      for (std::size_t i = 1; i < items.size(); ++i) p.value += ", " + items[i];
      p.value += "]";
      break;
    }
    case Kind::PathList: {
      std::vector<std::string> items;
      for (const std::string& part : split(text, ';')) items.push_back(pathValue(part));
      p.value = arrayValue(items);
      break;
    }
    case Kind::Path:
    case Kind::RelativeFolder:
    case Kind::FolderName:
      p.value = pathValue(text);
      break;
    case Kind::ClassPath:
    case Kind::Search: {
      std::optional<std::string> v = def.kind == Kind::ClassPath ? classPathValue(text) : searchValue(text);
      if (!v) return std::nullopt;
      p.value = *v;
      break;
    }
    case Kind::Output: {
      auto file = strings.find(def.id2);
      if (text != "1" || file == strings.end()) return std::nullopt;
      p.value = pathValue(file->second);
      p.ids.push_back(def.id2);
      break;
    }
    case Kind::Duration:
    case Kind::Size: {
      if (!canonicalInt(text, n) || n < 0) return std::nullopt;
      std::optional<std::string> v = def.kind == Kind::Size ? sizeValue(n) : durationValue(n, def.unit);
      p.value = *v;
      break;
    }
    default:
      return std::nullopt;
  }
  return p;
}

// A printed key is kept only when building it gives exactly the entries it stands for.
bool buildsTheSame(const KeyDef& def, const Printed& p, const Strings& strings,
                   const std::map<ConfigId, std::u16string>& wide) {
  toml::table doc;
  try {
    doc = toml::parse("v = " + p.value + "\n");
  } catch (const toml::parse_error&) {
    return false;
  }
  Reader r;
  if (!r.value(def, *doc.get("v"), "v")) return false;
  std::set<ConfigId> built, builtWide;
  for (const auto& [id, text] : r.strings) {
    auto it = strings.find(id);
    if (it == strings.end() || it->second != text) return false;
    built.insert(id);
  }
  for (const auto& [id, text] : r.wide) {
    auto it = wide.find(id);
    if (it == wide.end() || it->second != text) return false;
    builtWide.insert(id);
  }
  return built == std::set<ConfigId>(p.ids.begin(), p.ids.end()) &&
         builtWide == std::set<ConfigId>(p.wideIds.begin(), p.wideIds.end());
}

// service.start, service.errors and application.windowed from ExecutableType and the start type.
std::map<Kind, std::string> printServiceType(Strings& strings) {
  std::map<Kind, std::string> lines;
  auto type = strings.find(cid::ExecutableType);
  if (type == strings.end()) return lines;
  auto startType = strings.find(cid::ServiceStartType);
  Reader r;
  r.serviceTypeAt = toml::source_region{};
  const std::string& t = type->second;
  if (t == "1") r.windowed = true;
  if (t == "1" || t == "5") r.errors = "dialog";
  if (t == "0" || t == "4") r.errors = "console";
  if (t == "4") r.start = "auto";
  if (startType != strings.end()) r.start = startType->second;
  auto values = enumValues(Kind::Start);
  bool known = (t == "0" || t == "1" || t == "4" || t == "5") &&
               (!r.start || std::find(values.begin(), values.end(), *r.start) != values.end());
  if (!known || !r.finishServiceType() || r.strings.size() != 1u + (startType != strings.end()) ||
      r.strings[cid::ExecutableType] != t ||
      (startType != strings.end() && r.strings[cid::ServiceStartType] != startType->second))
    return lines;
  if (r.start) lines[Kind::Start] = quote(*r.start);
  if (r.errors) lines[Kind::Errors] = quote(*r.errors);
  if (r.windowed) lines[Kind::Windowed] = "true";
  strings.erase(cid::ExecutableType);
  if (startType != strings.end()) strings.erase(startType);
  return lines;
}

}  // namespace

bool blockFromToml(const std::filesystem::path& configPath, ConfigBlock& block, std::string& error,
                   PackRequest* request) {
  block = ConfigBlock{};
  PackRequest ignored;
  PackRequest& pack = request ? *request : ignored;
  pack = PackRequest{};
  Reader r;
  r.file = pathText(configPath);
  toml::table doc;
  try {
    doc = toml::parse_file(r.file);
  } catch (const toml::parse_error& e) {
    if (e.source().begin.line == 0) {
      error = r.file + ": cannot be read: " + std::string(e.description());
    } else {
      r.fail(e.source(), std::string(e.description()));
      error = r.error;
    }
    return false;
  }
  std::filesystem::path base = configPath.parent_path();
  std::vector<std::string> known{"locale", "include", "raw", "pack"};
  for (std::string_view t : tableNames())
    if (t.find('.') == std::string_view::npos) known.emplace_back(t);
  bool ok = true;
  for (auto&& [k, v] : doc) {
    if (!ok) break;
    std::string_view name = k.str();
    if (name == "locale" || name == "include") {
      const auto* a = v.as_array();
      if (!a || (!a->empty() && !a->is_array_of_tables())) {
        ok = r.fail(v.source(),
                    std::string(name) + " must be written as [[" + std::string(name) + "]] tables");
        break;
      }
      for (const toml::node& item : *a)
        if (ok) ok = name == "locale" ? r.locale(item, block) : r.include(item, base, block);
    } else if (name == "raw") {
      const toml::table* t = r.table(v, "raw");
      ok = t && r.raw(*t);
    } else if (name == "pack") {
      ok = r.pack(v, base, pack);
    } else if (std::find(known.begin(), known.end(), name) != known.end()) {
      const toml::table* t = r.table(v, name);
      ok = t && r.section(name, *t);
    } else {
      std::string hint = renamedHint(std::string(name));
      ok = r.fail(k.source(), "unknown table or key \"" + std::string(name) + "\"" +
                                  (hint.empty() ? suggestion(name, known) : hint));
    }
  }
  ok = ok && r.finishServiceType() && r.crossChecks();
  if (ok && !block.files.empty()) {
    for (ConfigId id : {IncludedFileCountId, IncludedFileNamesId})
      if (r.definedAt.count(id))
        ok = r.failLine(r.definedAt[id],
                        "ConfigId " + std::to_string(id) + " is written from the [[include]] tables");
  }
  if (!ok) {
    error = r.error;
    return false;
  }
  if (!r.definedAt.count(cid::Flavour)) r.strings[cid::Flavour] = "e";
  // The quorvanex flavour loads its runtime library from the application folder instead.
  pack.includeRuntime = r.includeRuntime.value_or(r.strings[cid::Flavour] == "e");
  if (!pack.includeRuntime) pack.runtimeJar.reset();
  bool hasRuntime = std::any_of(block.files.begin(), block.files.end(),
                                [](const IncludedFile& f) { return f.name == RuntimeJarName; });
  if (pack.includeRuntime && !hasRuntime && block.files.empty()) {
    // The launcher builds the name list from the records; hand-written ids would contradict it.
    for (ConfigId id : {IncludedFileCountId, IncludedFileNamesId})
      if (r.definedAt.count(id)) {
        r.failLine(r.definedAt[id],
                   "ConfigId " + std::to_string(id) +
                       " is written from the included files (the runtime library is one; set "
                       "include-runtime = false under [pack] to leave it out)");
        error = r.error;
        return false;
      }
  }
  if (hasRuntime) pack.includeRuntime = false;  // already listed, as a dump prints it
  for (const MessageDef& m : messageTable()) {
    if (r.definedAt.count(m.id)) continue;
    std::string english(m.english);
    if (m.id == 1016)
      english = noRuntimeMessage(r.strings[cid::SearchSequence], r.strings[cid::MinVersion],
                                 r.strings[cid::MaxVersion]);
    r.wide[m.id] = utf8ToUtf16(english);
  }
  for (ConfigId id : {cid::SearchSequence, cid::MinVersion, cid::MaxVersion})
    if (!r.definedAt.count(id)) r.strings.erase(id);
  block.strings.assign(r.strings.begin(), r.strings.end());
  block.wide.assign(r.wide.begin(), r.wide.end());
  return true;
}

namespace {

// Writes the files under dir. The names come from the executable under inspection, which may be
// damaged or hostile: each must pass the launcher's rule before anything is written, and a
// failure removes what this call made, so nothing lands outside dir and nothing half is left.
bool writeIncludedFiles(const std::vector<IncludedFile>& files, const std::filesystem::path& dir,
                        std::vector<std::filesystem::path>& targets, std::string& error) {
  namespace fs = std::filesystem;
  for (const IncludedFile& f : files)
    if (!isSafeIncludedName(f.name)) {
      error = "included file name \"" + fromCp1252(f.name) + "\" is refused: it would not stay inside " +
              pathText(dir);
      return false;
    }
  std::vector<fs::path> made;  // files and folders, in the order they were made
  std::error_code ec;
  auto undo = [&made, &ec] {
    for (auto p = made.rbegin(); p != made.rend(); ++p) fs::remove(*p, ec);
  };
  for (const IncludedFile& f : files) {
    std::string relative = fromCp1252(f.name);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    fs::path target = fs::absolute(dir / pathFromText(relative), ec);
    fs::path folder;
    for (const fs::path& part : target.parent_path()) {
      folder /= part;
      if (!fs::exists(folder, ec) && fs::create_directory(folder, ec)) made.push_back(folder);
    }
    bool existed = fs::exists(target, ec);
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    if (file && !existed) made.push_back(target);
    file.write(reinterpret_cast<const char*>(f.data.data()), static_cast<std::streamsize>(f.data.size()));
    file.close();
    if (!file) {
      error = pathText(target) + ": cannot be written";
      undo();
      return false;
    }
    targets.push_back(target);
  }
  return true;
}

}  // namespace

bool blockToToml(const ConfigBlock& block, const std::optional<std::filesystem::path>& extractDir,
                 std::ostream& out, std::string& error) {
  Strings strings;
  std::map<ConfigId, std::u16string> wide;
  // Later duplicates win, as in the launcher.
  for (const auto& [id, text] : block.strings) strings[id] = text;
  for (const auto& [id, text] : block.wide) wide[id] = text;

  std::map<std::string, std::vector<std::string>> lines;
  std::map<Kind, std::string> serviceType = printServiceType(strings);
  std::map<ConfigId, std::string> printedVersion;
  for (const KeyDef& def : keyTable()) {
    if (serviceType.count(def.kind)) {
      lines[std::string(def.table)].push_back(std::string(def.key) + " = " + serviceType[def.kind]);
      continue;
    }
    std::optional<Printed> p = printKey(def, strings, wide);
    if (!p || !buildsTheSame(def, *p, strings, wide)) continue;
    if (def.kind == Kind::Version) {
      // Bounds that no version meets are kept as entries, which are not checked.
      auto min = printedVersion.find(cid::MinVersion);
      if (min != printedVersion.end() && !boundsMeet(min->second, strings[def.id])) continue;
      printedVersion[def.id] = strings[def.id];
    }
    std::vector<std::string>& table = lines[std::string(def.table)];
    if (p->lines.empty())
      table.push_back(std::string(def.key) + " = " + p->value);
    else
      table.insert(table.end(), p->lines.begin(), p->lines.end());
    for (ConfigId id : p->ids) strings.erase(id);
    for (ConfigId id : p->wideIds) wide.erase(id);
  }
  for (const MessageDef& m : messageTable()) {
    auto it = wide.find(m.id);
    if (it == wide.end()) continue;
    lines["messages"].push_back(std::string(m.key) + " = " + quote(utf16ToUtf8(it->second)));
    wide.erase(it);
  }

  out << "# Read back by pelto-pack dump. Messages left to their defaults are printed as well.\n";
  auto header = [&out](const std::string& h) { out << "\n" << h << "\n"; };
  for (std::string_view table : tableNames()) {
    auto it = lines.find(std::string(table));
    if (it == lines.end()) continue;
    header("[" + std::string(table) + "]");
    for (const std::string& l : it->second) out << l << "\n";
  }

  for (const LocaleSection& section : block.locales) {
    std::map<ConfigId, std::u16string> entries;
    for (const auto& [id, text] : section.entries) entries[id] = text;
    header("[[locale]]");
    out << "key = " << quote(fromCp1252(section.key)) << "\n";
    std::vector<std::string> messages, raw;
    for (const auto& [id, text] : entries) {
      const MessageDef* m = messageById(id);
      (m ? messages : raw)
          .push_back((m ? std::string(m->key) : quote(std::to_string(id))) + " = " +
                     quote(utf16ToUtf8(text)));
    }
    if (!messages.empty()) {
      header("[locale.messages]");
      for (const std::string& l : messages) out << l << "\n";
    }
    if (!raw.empty()) {
      header("[locale.raw]");
      for (const std::string& l : raw) out << l << "\n";
    }
  }

  // A pelto-flavour block without the runtime library was built with it left out on purpose.
  auto flavour = block.strings.end();
  for (auto it = block.strings.begin(); it != block.strings.end(); ++it)
    if (it->first == cid::Flavour) flavour = it;
  bool pelto = flavour == block.strings.end() || flavour->second == "e";
  bool hasRuntime = std::any_of(block.files.begin(), block.files.end(),
                                [](const IncludedFile& f) { return f.name == RuntimeJarName; });
  if (pelto && !hasRuntime) {
    header("[pack]");
    out << "include-runtime = false\n";
  }

  // Included files under [[include]] when the name list describes the records exactly.
  std::string names;
  for (const IncludedFile& f : block.files) names += (names.empty() ? "" : ";") + f.name;
  auto count = strings.find(IncludedFileCountId);
  auto list = strings.find(IncludedFileNamesId);
  if (!block.files.empty() && count != strings.end() && list != strings.end() &&
      count->second == std::to_string(block.files.size()) && list->second == names) {
    std::vector<std::filesystem::path> sources;
    if (extractDir && !writeIncludedFiles(block.files, *extractDir, sources, error)) return false;
    for (std::size_t i = 0; i < block.files.size(); ++i) {
      header("[[include]]");
      out << "name = " << quote(fromCp1252(block.files[i].name)) << "\n";
      if (extractDir)
        out << "source = " << quote(genericPathText(sources[i])) << "\n";
      else
        out << "# " << block.files[i].data.size()
            << " bytes; dump with --extract DIR to write the file and its source\n";
    }
    strings.erase(count);
    strings.erase(list);
  }

  if (!strings.empty()) {
    header("[raw.strings]");
    for (const auto& [id, text] : strings)
      out << quote(std::to_string(id)) << " = " << quote(fromCp1252(text)) << "\n";
  }
  if (!wide.empty()) {
    header("[raw.wide]");
    for (const auto& [id, text] : wide)
      out << quote(std::to_string(id)) << " = " << quote(utf16ToUtf8(text)) << "\n";
  }
  return true;
}

}  // namespace pelto::pack
