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

bool Reader::failLine(std::uint32_t line, const std::string& what) {
  if (error.empty()) error = file + ":" + std::to_string(line) + ": " + what;
  return false;
}

bool Reader::fail(const toml::source_region& where, const std::string& what) {
  return failLine(where.begin.line, "column " + std::to_string(where.begin.column) + ": " + what);
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
  if (!s) fail(node.source(), std::string(what) + " must be a string");
  return s ? &s->get() : nullptr;
}

bool Reader::ansi(const toml::node& node, std::string_view what, std::string& out) {
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
bool Reader::amount(const KeyDef& def, const toml::node& node, std::string_view what, std::string& out) {
  const std::string* s = text(node, what);
  if (!s) return false;
  std::optional<long long> n = def.kind == Kind::Size ? parseSize(*s) : parseDuration(*s, def.unit);
  if (!n)
    return bad(node, what, *s,
               def.kind == Kind::Size ? "is not a size below 2GB such as \"10MB\""
               : def.unit == 1000     ? "is not a duration in whole seconds such as \"30s\", \"5m\" or \"1d\""
                                      : "is not a duration such as \"30s\", \"5m\" or \"1d\"");
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

bool Reader::section(std::string_view name, const toml::table& t) {
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

bool Reader::crossChecks() {
  auto min = strings.find(cid::MinVersion), max = strings.find(cid::MaxVersion);
  if (min != strings.end() && max != strings.end() && valueAt.count(cid::MaxVersion) &&
      valueAt.count(cid::MinVersion) && !boundsMeet(min->second, max->second))
    return fail(valueAt[cid::MaxVersion], "java.max-version = " + quote(max->second) +
                                              " is below java.min-version = " + quote(min->second));
  return true;
}

bool Reader::raw(const toml::table& t) {
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
  for (auto&& [k, v] : *t) {
    if (k.str() == "include-runtime") {
      if (!v.is_boolean()) return fail(v.source(), "pack.include-runtime must be true or false");
      includeRuntime = v.as_boolean()->get();
    } else if (k.str() == "runtime-jar") {
      if (!v.is_string()) return fail(v.source(), "pack.runtime-jar must be a string");
      std::filesystem::path path = pathFromText(v.as_string()->get());
      request.runtimeJar = path.is_relative() ? base / path : path;
      runtimeJarLine = v.source().begin.line;
    } else if (k.str() == "subsystem") {
      if (!readSubsystem(*this, v, request.ship)) return false;
    } else {
      return fail(k.source(), "unknown key \"pack." + std::string(k.str()) + "\"");
    }
  }
  return true;
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
  if (!source || !source->is_string()) return fail(t->source(), "[[include]] needs a source path (a string)");
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
    return fail(at, "include name \"" + fromCp1252(entry.name) +
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
  std::vector<std::string> known{"locale", "include", "raw", "pack", "resources", "installer"};
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
    } else if (name == "resources" || name == "installer") {
      ok = name == "resources" ? readResourcesTable(r, v, base, pack.ship)
                               : readInstallerTable(r, v, base, pack.ship);
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

}  // namespace pelto::pack
