// Reading a TOML configuration into a block, with every value checked against what the
// launcher accepts.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "env/Extract.h"
#include "env/TextConv.h"
#include "launcher/CommandLine.h"

#include "PackRead.h"
#include "Ship.h"

namespace pelto::pack {

namespace cid = config_id;

bool Reader::failLine(std::uint32_t line, const std::string& what, std::uint32_t column) {
  std::string text = line == 0 ? file + ": " + what : file + ":" + std::to_string(line) + ": " + what;
  // One mistake can be met twice (a table read for two of its keys): say it once.
  for (const Problem& p : problems)
    if (p.text == text) return false;
  problems.push_back(Problem{line, column, std::move(text)});
  return false;
}

bool Reader::fail(const toml::source_region& where, const std::string& what) {
  return failLine(where.begin.line, "column " + std::to_string(where.begin.column) + ": " + what,
                  where.begin.column);
}

// In line order, those about the file as a whole last; a file that is wrong throughout is not
// listed whole.
std::string Reader::report() const {
  constexpr std::size_t MaxShown = 20;
  std::vector<Problem> sorted = problems;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Problem& a, const Problem& b) {
    auto order = [](const Problem& p) { return std::pair(p.line == 0 ? UINT32_MAX : p.line, p.column); };
    return order(a) < order(b);
  });
  std::string out;
  for (std::size_t i = 0; i < sorted.size() && i < MaxShown; ++i) out += (i ? "\n" : "") + sorted[i].text;
  if (sorted.size() > MaxShown)
    out += "\n" + file + ": " + std::to_string(sorted.size() - MaxShown) + " more errors not shown";
  return out;
}

// A value the launcher could not use: the key, the offending text and why.
bool Reader::bad(const toml::node& node, std::string_view what, std::string_view text,
                 const std::string& why) {
  return fail(node.source(), std::string(what) + " = " + quote(text) + " " + why);
}

bool Reader::claim(ConfigId id, const toml::source_region& where) {
  auto [it, fresh] = definedAt.emplace(id, where.begin.line);
  if (fresh) return true;
  // Tables are visited in key order, not file order: name the later line as the fault.
  std::uint32_t first = std::min(it->second, where.begin.line);
  std::uint32_t second = std::max(it->second, where.begin.line);
  return failLine(second,
                  "ConfigId " + std::to_string(id) + " is already set on line " + std::to_string(first));
}

const std::string* Reader::text(const toml::node& node, std::string_view what) {
  const auto* s = node.as_string();
  if (s) return &s->get();
  std::string number;
  if (node.is_integer()) number = std::to_string(node.as_integer()->get());
  if (node.is_floating_point()) {
    std::ostringstream shown;
    shown << node.as_floating_point()->get();
    number = shown.str();
  }
  if (!number.empty()) {
    fail(node.source(),
         std::string(what) + " = " + number + " is a number: write it as a string: \"" + number + "\"");
    return nullptr;
  }
  fail(node.source(), std::string(what) + " must be a string");
  return nullptr;
}

namespace {

std::string jvmOptionProblem(const std::string& words);

std::string codePoint(char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return code;
}

}  // namespace

bool Reader::cp1252(const toml::node& node, std::string_view what, std::string& out) {
  const std::string* s = text(node, what);
  if (!s) return false;
  char32_t bad = 0;
  std::optional<std::string> narrow = toCp1252(*s, &bad);
  if (!narrow)
    return fail(node.source(), std::string(what) + " \"" + *s + "\" has a character (" + codePoint(bad) +
                                   ") that Windows-1252 cannot hold");
  out = std::move(*narrow);
  return true;
}

// The launcher reads the string table in the ANSI code page of the machine it runs on, which
// need not be the one these texts were written in: "Ä" on a Western machine is "Ђ" on a Cyrillic
// one. Only ASCII means the same everywhere.
bool Reader::ansi(const toml::node& node, std::string_view what, std::string& out) {
  if (!cp1252(node, what, out)) return false;
  auto first =
      std::find_if(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (first == out.end()) return true;
  std::u16string w = utf8ToUtf16(fromCp1252(std::string(1, *first)));
  return bad(node, what, node.as_string()->get(),
             "has a character (" + codePoint(w.empty() ? 0 : w[0]) +
                 ") that reads differently on machines with another code page; this key takes ASCII only "
                 "(Unicode texts: service.display-name, service.description, the values of "
                 "[service.environment] and [messages])");
}

bool Reader::utf16(const toml::node& node, std::string_view what, std::u16string& out) {
  const std::string* s = text(node, what);
  if (!s) return false;
  out = utf8ToUtf16(*s);
  return true;
}

bool Reader::fits(const toml::node& node, std::string_view what, const std::string& shown, std::size_t length,
                  std::size_t room) {
  if (length <= room) return true;
  return bad(node, what, shown.substr(0, 40) + (shown.size() > 40 ? "..." : ""),
             "is " + std::to_string(length) + " long; the launcher reads at most " + std::to_string(room));
}

// A path: not empty, no ";" where lists are joined, either slash.
bool Reader::path(const toml::node& node, std::string_view what, std::string& out, bool inList) {
  if (!ansi(node, what, out)) return false;
  const std::string& shown = node.as_string()->get();
  if (out.empty()) return bad(node, what, shown, "is empty (leave the key out instead)");
  if (inList && out.find(';') != std::string::npos)
    return bad(node, what, shown, "contains the separator ';'");
  out = slashesToBackslashes(out);
  return true;
}

bool Reader::oneOf(const toml::node& node, std::string_view what, std::span<const std::string_view> values,
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
bool Reader::words(const toml::node& node, std::string_view what, std::string& out) {
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

bool Reader::classPathEntry(const toml::node& item, std::string_view what, std::string& out) {
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

bool Reader::searchEntry(const toml::node& item, std::string_view what, std::string& out) {
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

bool Reader::splashTexts(const toml::node& node, std::string_view what, const KeyDef& def) {
  const auto* a = node.as_array();
  if (!a || a->size() > 4)
    return fail(node.source(),
                std::string(what) + " must be an array of at most four { text, first, second } tables");
  for (std::size_t i = 0; i < a->size(); ++i) {
    const toml::table* t = (*a)[i].as_table();
    if (!t)
      return fail((*a)[i].source(), std::string(what) + " entries are { text = ..., first = 0, second = 0 }");
    std::string textValue;
    long long numbers[2] = {0, 0};
    bool haveText = false;
    for (auto&& [k, v] : *t) {
      int which = k.str() == "first" ? 0 : k.str() == "second" ? 1 : -1;
      if (k.str() == "text") {
        if (!ansi(v, what, textValue) || !fits(v, what, textValue, textValue.size(), def.room)) return false;
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

bool Reader::versionOptions(const toml::node& node, std::string_view what) {
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
    if (!claim(id + 1, options->source()) || !words(*options, "jvm.version-options options", strings[id + 1]))
      return false;
    if (std::string why = jvmOptionProblem(strings[id + 1]); !why.empty())
      return fail(options->source(), "jvm.version-options options: " + why);
    id += 2;
  }
  strings[cid::VersionOptionCount] = std::to_string(a->size());
  return true;
}

bool Reader::serviceType(const KeyDef& def, const toml::node& node, std::string_view what) {
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
bool Reader::finishServiceType() {
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

bool Reader::value(const KeyDef& def, const toml::node& node, std::string_view what) {
  return typedValue(def, node, what) && usable(def, node, what);
}

bool Reader::typedValue(const KeyDef& def, const toml::node& node, std::string_view what) {
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
  if (const auto* t = node.as_string();
      t && def.id != cid::ServiceLogFile && t->get().find("{service}") != std::string::npos)
    return bad(node, what, t->get(), "holds {service}, which only service.log.file replaces");
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
          return bad(item, what, item.as_string()->get(),
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
      if (def.id == cid::ServiceLogFile)
        if (const char* why = serviceLogFileFault(shown)) return bad(node, what, shown, why);
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
      if (!a)
        return fail(node.source(),
                    std::string(what) + " must be an array of durations such as [\"10s\", \"1m\"]");
      if (a->empty())
        return fail(node.source(),
                    std::string(what) +
                        " must not be empty: give at least one delay such as [\"10s\"], or leave "
                        "the key out");
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

namespace {

// Options the JVM refuses or reads as a main class: every word starts with "-" (or is a variable
// that expands to an option), and those that take a value have one.
std::string jvmOptionProblem(const std::string& words) {
  std::vector<std::string> parts;
  splitCommandLine(std::string_view(words), parts);
  static constexpr std::string_view NeedValue[] = {
      "-Xmx",  "-Xms",        "-Xss",       "-Xmn",        "-D", "-XX:", "-XX:+",
      "-XX:-", "-javaagent:", "-agentlib:", "-agentpath:", "-",  "--"};
  for (const std::string& w : parts) {
    if (w.starts_with("%") || w.starts_with("${")) continue;
    if (!w.starts_with("-"))
      return quote(w) + " is not a JVM option: options start with \"-\" (write \"-" + w + "\")";
    if (std::find(std::begin(NeedValue), std::end(NeedValue), w) != std::end(NeedValue))
      return quote(w) + " has no value: write it with one, such as \"-Xmx512m\" or \"-Dname=value\"";
  }
  return "";
}

// Launcher variables that have a value only in a launch: the service process that starts the
// child has no launch folder and no Java runtime of its own.
constexpr std::string_view LaunchOnlyVariables[] = {
    "%PELTO_TEMPDIR%",        "%QUORVANEX_TEMPDIR%",   "${PELTO_TEMPDIR}",
    "${QUORVANEX_TEMPDIR}",   "%PELTO_JVM_HOME%",      "%QUORVANEX_JVM_HOME%",
    "${PELTO_JVM_HOME}",      "${QUORVANEX_JVM_HOME}", "${launcher:sys.launcherTempDirectory}",
    "${launcher:sys.jvmHome}"};

std::string launchOnlyVariableIn(std::string text) {
  auto upper = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
  };
  text = upper(text);
  for (std::string_view v : LaunchOnlyVariables)
    if (text.find(upper(std::string(v))) != std::string::npos) return std::string(v);
  return "";
}

}  // namespace

bool Reader::usable(const KeyDef& def, const toml::node& node, std::string_view what) {
  if (def.id == cid::VmOptions) {
    std::string why = jvmOptionProblem(strings[def.id]);
    if (!why.empty()) return fail(node.source(), std::string(what) + ": " + why);
  }
  if (def.id == cid::ServiceLogFile || def.kind == Kind::Output) {
    const std::string& given = node.as_string()->get();
    if (given.ends_with("/") || given.ends_with("\\"))
      return bad(node, what, given,
                 "names a folder: give a file in it, such as " +
                     quote(given + (def.kind == Kind::Output ? "out.log" : "service.log")));
  }
  if (def.kind == Kind::Environment) {
    for (auto&& [k, v] : *node.as_table()) {
      std::string variable = launchOnlyVariableIn(v.as_string()->get());
      if (!variable.empty())
        return bad(v, std::string(what) + "." + std::string(k.str()), v.as_string()->get(),
                   "uses " + variable +
                       ", which has no value in the service process (no launch folder, no Java runtime); "
                       "these work here: %PELTO_EXEDIR%, %PELTO_PATHLIST_SEPARATOR%, ${launcher:sys.tempDir} "
                       "and ${NAME} for a variable of the service");
    }
  }
  return true;
}

// One duration or size: the stored number as text.
bool Reader::amount(const KeyDef& def, const toml::node& node, std::string_view what, std::string& out) {
  const std::string* s = text(node, what);
  if (!s) return false;
  std::optional<long long> n = def.kind == Kind::Size ? parseSize(*s) : parseDuration(*s, def.unit);
  if (!n)
    return bad(node, what, *s,
               def.kind == Kind::Size ? "is not a size below 2GB such as \"10MB\" (units B, KB, MB, GB)"
               : def.unit == 1000
                   ? "is not a duration in whole seconds such as \"30s\", \"5m\", \"1h\" or \"1d\""
                   : "is not a duration such as \"500ms\", \"30s\", \"5m\", \"1h\" or \"1d\"");
  out = std::to_string(*n);
  return true;
}

// [service.environment]: NAME = "value", written as a count and one wide "NAME=value" each.
bool Reader::environment(const toml::node& node, std::string_view what, const KeyDef& def) {
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

const toml::table* Reader::table(const toml::node& node, std::string_view what) {
  const auto* t = node.as_table();
  if (!t) fail(node.source(), std::string(what) + " must be a table");
  return t;
}

// Goes on after a wrong key, so that one run names every mistake of the table.
bool Reader::section(std::string_view name, const toml::table& t) {
  for (const KeyDef& d : keyTable())
    if (d.table == name && d.kind == Kind::Environment) return value(d, t, name);
  bool ok = true;
  for (auto&& [k, v] : t) {
    std::string what = std::string(name) + "." + std::string(k.str());
    if (name == "messages") {
      const MessageDef* m = messageByKey(k.str());
      std::vector<std::string> known;
      for (const MessageDef& d : messageTable()) known.emplace_back(d.key);
      if (!m)
        ok = fail(k.source(), "unknown message \"" + what + "\"" + suggestion(k.str(), known));
      else if (!claim(m->id, v.source()) || !utf16(v, what, wide[m->id]))
        ok = false;
      continue;
    }
    if (std::find(tableNames().begin(), tableNames().end(), what) != tableNames().end()) {
      const toml::table* inner = table(v, what);
      if (!inner || !section(what, *inner)) ok = false;
      continue;
    }
    if (what == "service.password") {
      ok = fail(k.source(),
                "service.password is refused: passwords are never stored in the executable; "
                "password-env names the variable /install reads it from (or /install asks)");
      continue;
    }
    const KeyDef* def = keyDef(name, k.str());
    if (!def) {
      std::vector<std::string> known;
      for (const KeyDef& d : keyTable())
        if (d.table == name) known.emplace_back(d.key);
      for (std::string_view n : tableNames())
        if (n.starts_with(std::string(name) + ".")) known.emplace_back(n.substr(name.size() + 1));
      std::string hint = renamedHint(what);
      ok = fail(k.source(),
                "unknown key \"" + what + "\"" + (hint.empty() ? suggestion(k.str(), known) : hint));
      continue;
    }
    if (!value(*def, v, what)) {
      // A value half read must not mislead the checks across keys.
      for (ConfigId id : {def->id, def->id2}) {
        strings.erase(id);
        valueAt.erase(id);
      }
      ok = false;
    }
  }
  return ok;
}

bool Reader::crossChecks() {
  bool ok = true;
  auto min = strings.find(cid::MinVersion), max = strings.find(cid::MaxVersion);
  if (min != strings.end() && max != strings.end() && valueAt.count(cid::MaxVersion) &&
      valueAt.count(cid::MinVersion) && !boundsMeet(min->second, max->second))
    ok = fail(valueAt[cid::MaxVersion], "java.max-version = " + quote(max->second) +
                                            " is below java.min-version = " + quote(min->second));
  if (valueAt.count(cid::MainClass) && strings.count(cid::MainClassInModule) &&
      !strings.count(cid::ModulePath)) {
    const std::string& main = strings[cid::MainClass];
    ok = fail(valueAt[cid::MainClass],
              "application.main-class = " + quote(main) +
                  " names a module, but application.module-path is not set: add module-path = [\"mods/\"] "
                  "(the folder of the module), or write the class alone: " +
                  quote(main.substr(main.find('/') + 1)));
  }
  if (!strings.count(cid::ServiceLogFile))
    for (auto [id, key] :
         {std::pair(cid::ServiceLogMaxSize, "max-size"), std::pair(cid::ServiceLogKeep, "keep")})
      if (valueAt.count(id))
        ok =
            fail(valueAt[id], "service.log." + std::string(key) +
                                  " has no effect without service.log.file: add file = \"logs/service.log\"");
  if (includeRuntime == false && runtimeJarAt)
    ok = fail(*runtimeJarAt,
              "pack.runtime-jar is ignored with include-runtime = false: remove one of the two");
  return ok;
}

// The keys without which the executable cannot do its job.
bool Reader::required() {
  std::string missing;
  for (const KeyDef& def : keyTable())
    if (isRequired(def) && !strings.count(def.id) && !definedAt.count(def.id))
      missing += (missing.empty() ? "" : "; ") + std::string(def.table) + "." + std::string(def.key) + " (" +
                 std::string(def.help) + ")";
  return missing.empty() || failLine(0, "required key missing: " + missing);
}

bool Reader::raw(const toml::table& t) {
  bool ok = true;
  for (auto&& [k, v] : t) {
    bool narrow = k.str() == "strings";
    if (!narrow && k.str() != "wide") {
      ok = fail(k.source(), "unknown key \"raw." + std::string(k.str()) + "\" (raw.strings or raw.wide)");
      continue;
    }
    const toml::table* entries = table(v, "raw." + std::string(k.str()));
    if (!entries) {
      ok = false;
      continue;
    }
    for (auto&& [idKey, value] : *entries) {
      ConfigId id = 0;
      if (!parseId(idKey.str(), id))
        ok = fail(idKey.source(), "\"" + std::string(idKey.str()) + "\" is not a ConfigId");
      else if (!claim(id, value.source()) ||
               (narrow ? !cp1252(value, "raw string", strings[id]) : !utf16(value, "raw text", wide[id])))
        ok = false;
    }
  }
  return ok;
}

bool Reader::locale(const toml::node& node, ConfigBlock& block) {
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
bool Reader::pack(const toml::node& node, const std::filesystem::path& base, PackRequest& request) {
  const toml::table* t = table(node, "pack");
  if (!t) return false;
  bool ok = true;
  for (auto&& [k, v] : *t) {
    if (k.str() == "include-runtime") {
      if (!v.is_boolean())
        ok = fail(v.source(), "pack.include-runtime must be true or false");
      else
        includeRuntime = v.as_boolean()->get();
    } else if (k.str() == "runtime-jar") {
      const std::string* given = text(v, "pack.runtime-jar");
      if (!given) {
        ok = false;
        continue;
      }
      std::filesystem::path path = pathFromText(*given);
      request.runtimeJar = path.is_relative() ? base / path : path;
      runtimeJarAt = v.source();
    } else if (k.str() == "subsystem") {
      if (!readSubsystem(*this, v, request.ship)) ok = false;
    } else {
      ok = fail(k.source(), "unknown key \"pack." + std::string(k.str()) + "\"" +
                                suggestion(k.str(), {"include-runtime", "runtime-jar", "subsystem"}));
    }
  }
  return ok;
}

bool Reader::include(const toml::node& node, const std::filesystem::path& base, ConfigBlock& block) {
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
    return fail(t->source(),
                "[[include]] needs a source path (a string); a plain dump lists included files by name only: "
                "pelto-pack dump EXE --extract DIR writes them and their sources");
  std::filesystem::path path = pathFromText(source->as_string()->get());
  if (path.is_relative()) path = base / path;
  IncludedFile entry;
  if (name) {
    if (!ansi(*name, "include.name", entry.name)) return false;
  } else {
    std::string fileName = pathText(path.filename());
    if (std::any_of(fileName.begin(), fileName.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      return fail(source->source(),
                  "the file name of the source " + quote(fileName) +
                      " is not ASCII, which machines with another code page read differently: "
                      "give an ASCII name = \"...\"");
    entry.name = fileName;
  }
  std::replace(entry.name.begin(), entry.name.end(), '/', '\\');
  const toml::source_region& at = name ? name->source() : source->source();
  // The launcher's own rule: a name it would refuse makes an executable that never starts.
  if (!isSafeIncludedName(entry.name))
    return fail(at, "include name \"" + fromCp1252(entry.name) +
                        "\" cannot be extracted: it must be relative, without \"..\", a device name such as "
                        "\"nul\" or \"com1\", a trailing dot or space, or any of <>:\"|?*;");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return fail(source->source(), "included file " + pathText(path) + " does not exist");
  std::ifstream in(path, std::ios::binary);
  entry.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return fail(source->source(), "included file " + pathText(path) + " cannot be read");
  for (const IncludedFile& other : block.files)
    if (includedNamesClash(utf8ToUtf16(fromCp1252(other.name)), utf8ToUtf16(fromCp1252(entry.name))))
      return fail(at, "include name \"" + fromCp1252(entry.name) + "\" clashes with \"" +
                          fromCp1252(other.name) + "\"");
  sources.push_back(path);
  block.files.push_back(std::move(entry));
  return true;
}

bool blockFromToml(const std::filesystem::path& configPath, ConfigBlock& block, std::string& error,
                   PackRequest* request) {
  block = ConfigBlock{};
  PackRequest ignored;
  PackRequest& pack = request ? *request : ignored;
  pack = PackRequest{};
  Reader r;
  r.file = pathText(configPath);
  std::error_code ec;
  if (std::filesystem::is_directory(configPath, ec)) {
    error = r.file + ": is a folder; give the configuration file in it (for example " +
            pathText(configPath / "service.toml") + ")";
    return false;
  }
  toml::table doc;
  try {
    doc = toml::parse_file(r.file);
  } catch (const toml::parse_error& e) {
    std::string what(e.description());
    if (what.find("escape sequence") != std::string::npos)
      what +=
          " (a single backslash starts an escape: write Windows paths with forward slashes "
          "\"C:/app/lib\", doubled backslashes \"C:\\\\app\\\\lib\" or as a literal string 'C:\\app\\lib')";
    else if (what.find("utf-8") != std::string::npos || what.find("UTF-8") != std::string::npos)
      what += " (save the file as UTF-8)";
    if (e.source().begin.line == 0) {
      error = r.file + ": cannot be read: " + what;
    } else {
      r.fail(e.source(), what);
      error = r.report();
    }
    return false;
  }
  std::filesystem::path base = configPath.parent_path();
  std::vector<std::string> known{"locale", "include", "raw", "pack", "resources", "installer"};
  for (std::string_view t : tableNames())
    if (t.find('.') == std::string_view::npos) known.emplace_back(t);
  bool ok = true;
  for (auto&& [k, v] : doc) {
    std::string_view name = k.str();
    if (name == "locale" || name == "include") {
      const auto* a = v.as_array();
      if (!a || (!a->empty() && !a->is_array_of_tables())) {
        ok = r.fail(v.source(),
                    std::string(name) + " must be written as [[" + std::string(name) + "]] tables");
        continue;
      }
      for (const toml::node& item : *a)
        if (!(name == "locale" ? r.locale(item, block) : r.include(item, base, block))) ok = false;
    } else if (name == "raw") {
      const toml::table* t = r.table(v, "raw");
      if (!t || !r.raw(*t)) ok = false;
    } else if (name == "pack") {
      if (!r.pack(v, base, pack)) ok = false;
    } else if (name == "resources" || name == "installer") {
      if (!(name == "resources" ? readResourcesTable(r, v, base, pack.ship)
                                : readInstallerTable(r, v, base, pack.ship)))
        ok = false;
    } else if (std::find(known.begin(), known.end(), name) != known.end()) {
      const toml::table* t = r.table(v, name);
      if (!t || !r.section(name, *t)) ok = false;
    } else {
      std::string hint = renamedHint(std::string(name));
      ok = r.fail(k.source(), "unknown table or key \"" + std::string(name) + "\"" +
                                  (hint.empty() ? suggestion(name, known) : hint));
    }
  }
  if (!r.finishServiceType()) ok = false;
  if (!r.crossChecks()) ok = false;
  if (!r.required()) ok = false;
  if (!block.files.empty()) {
    for (ConfigId id : {IncludedFileCountId, IncludedFileNamesId})
      if (r.definedAt.count(id))
        ok = r.failLine(r.definedAt[id],
                        "ConfigId " + std::to_string(id) + " is written from the [[include]] tables");
  }
  if (!r.definedAt.count(cid::Flavour)) r.strings[cid::Flavour] = "e";
  // The quorvanex flavour loads its runtime library from the application folder instead.
  pack.includeRuntime = r.includeRuntime.value_or(r.strings[cid::Flavour] == "e");
  if (!pack.includeRuntime && r.runtimeJarAt && r.includeRuntime != false)
    ok = r.fail(*r.runtimeJarAt,
                "pack.runtime-jar is ignored: the quorvanex flavour includes no runtime "
                "library unless include-runtime = true");
  if (!pack.includeRuntime) pack.runtimeJar.reset();
  bool hasRuntime = std::any_of(block.files.begin(), block.files.end(),
                                [](const IncludedFile& f) { return f.name == RuntimeJarName; });
  if (pack.includeRuntime && !hasRuntime && block.files.empty()) {
    // The launcher builds the name list from the records; hand-written ids would contradict it.
    for (ConfigId id : {IncludedFileCountId, IncludedFileNamesId})
      if (r.definedAt.count(id))
        ok = r.failLine(r.definedAt[id],
                        "ConfigId " + std::to_string(id) +
                            " is written from the included files (the runtime library is one; set "
                            "include-runtime = false under [pack] to leave it out)");
  }
  if (!ok) {
    error = r.report();
    return false;
  }
  if (hasRuntime) pack.includeRuntime = false;  // already listed, as a dump prints it
  pack.inputs = r.sources;
  // Without a search of its own a service finds the runtime where people put one.
  if (!r.definedAt.count(cid::SearchSequence)) r.strings[cid::SearchSequence] = std::string(DefaultSearch);
  for (const MessageDef& m : messageTable()) {
    if (r.definedAt.count(m.id)) continue;
    std::string english(m.english);
    if (m.id == 1016)
      english = noRuntimeMessage(r.strings[cid::SearchSequence], r.strings[cid::MinVersion],
                                 r.strings[cid::MaxVersion]);
    r.wide[m.id] = utf8ToUtf16(english);
  }
  for (ConfigId id : {cid::MinVersion, cid::MaxVersion})
    if (!r.definedAt.count(id)) r.strings.erase(id);
  // "search = []": nothing but PELTO_JAVA_HOME, as executables without a search entry do.
  if (r.strings[cid::SearchSequence].empty()) r.strings.erase(cid::SearchSequence);
  block.strings.assign(r.strings.begin(), r.strings.end());
  block.wide.assign(r.wide.begin(), r.wide.end());
  return true;
}

}  // namespace pelto::pack
