// The TOML vocabulary of a service description and its mapping onto configuration ids.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "PackTool.h"
#include "env/Extract.h"
#include "env/TextConv.h"

#ifndef TOML_HEADER_ONLY
#define TOML_HEADER_ONLY 1
#endif
#include <toml++/toml.h>

namespace pelto::pack {
namespace {

enum class Kind {
  Text,     // string table, Windows-1252
  Wide,     // wide table
  Flag,     // string table "1" / "0", a TOML boolean
  Int,      // string table, decimal text of a TOML integer
  List,     // string table, an array of texts joined by the separator
  Flavour,  // string table "e" / "i", written as "pelto" / "quorvanex"
};

struct KeyDef {
  std::string_view table;
  std::string_view key;
  ConfigId id;
  Kind kind;
  char separator = 0;
};

// Every configuration id the launcher reads, in the order the dump prints them.
constexpr KeyDef Keys[] = {
    {"service", "name", 101, Kind::Text},
    {"service", "description", 20017, Kind::Wide},
    {"service", "dependencies", 149, Kind::List, ','},
    {"service", "executable-type", 107, Kind::Int},
    {"application", "flavour", 2001, Kind::Flavour},
    {"application", "main-class", 122, Kind::Text},
    {"application", "main-class-in-module", 133, Kind::Flag},
    {"application", "arguments", 124, Kind::Text},
    {"application", "j-arguments-to-jvm", 125, Kind::Flag},
    {"application", "working-directory", 146, Kind::Text},
    {"application", "directory", 10003, Kind::Text},
    {"application", "id", 160, Kind::Text},
    {"classpath", "entries", 121, Kind::List, ';'},
    {"classpath", "module-path", 132, Kind::List, ';'},
    {"java", "min-version", 126, Kind::Text},
    {"java", "max-version", 127, Kind::Text},
    {"java", "search-sequence", 128, Kind::List, ';'},
    {"java", "allow-prerelease", 130, Kind::Flag},
    {"java", "require-jdk", 131, Kind::Flag},
    {"java", "jvm-dll-subdirectory", 152, Kind::Text},
    {"java", "located-runtimes-only", 165, Kind::Flag},
    {"jvm", "options", 123, Kind::Text},
    {"jvm", "read-default-vmoptions", 166, Kind::Flag},
    {"jvm", "native-library-directories", 10004, Kind::List, ';'},
    {"jvm", "add-dll-directories", 154, Kind::Flag},
    {"launcher-class", "argument3-is-path", 102, Kind::Flag},
    {"launcher-class", "argument3-path", 103, Kind::Text},
    {"launcher-class", "argument4-is-path", 104, Kind::Flag},
    {"launcher-class", "argument4-path", 105, Kind::Text},
    {"launcher-class", "argument5", 106, Kind::Flag},
    {"instance", "single", 10005, Kind::Flag},
    {"instance", "activate-windows", 10007, Kind::Flag},
    {"instance", "global-semaphore", 158, Kind::Flag},
    {"splash", "enabled", 108, Kind::Flag},
    {"splash", "second-flag", 163, Kind::Flag},
    {"splash", "item1-first", 10109, Kind::Int},
    {"splash", "item1-second", 10110, Kind::Int},
    {"splash", "item1-text", 10111, Kind::Text},
    {"splash", "item2-first", 10113, Kind::Int},
    {"splash", "item2-text", 10114, Kind::Text},
    {"splash", "item2-second", 10115, Kind::Int},
    {"splash", "item3-first", 10116, Kind::Int},
    {"splash", "item3-second", 10117, Kind::Int},
    {"splash", "item3-text", 10118, Kind::Text},
    {"splash", "item4-first", 10120, Kind::Int},
    {"splash", "item4-text", 10121, Kind::Text},
    {"splash", "item4-second", 10122, Kind::Int},
};

constexpr std::string_view Tables[] = {"service",        "application", "classpath", "java",    "jvm",
                                       "launcher-class", "instance",    "splash",    "messages"};

struct MessageDef {
  std::string_view key;
  ConfigId id;
  std::string_view english;
};

// The texts the launcher shows; a configuration that leaves one out gets the English default.
constexpr MessageDef Messages[] = {
    {"caption", 1000, "Java service launcher"},
    {"jvm-load-failed", 1005, "The Java runtime could not be loaded."},
    {"classpath-entry-missing", 1006, "A file the application needs is missing: {0}"},
    {"classpath-variable-missing", 1008,
     "The environment variable {0}, which the application's class path needs, is not set."},
    {"internal-error", 1009, "The application could not be started (internal error {0})."},
    {"main-class-not-found", 1010,
     "The launcher class was not found. The application's runtime library is missing or damaged."},
    {"main-method-not-found", 1011,
     "The launcher class has no main method. The application's runtime library is damaged."},
    {"no-temp-directory", 1015,
     "No usable temporary directory was found. Check the TEMP and TMP environment variables."},
    {"no-java-runtime", 1016, "No suitable {0}-bit Java runtime was found. Install one or set JAVA_HOME."},
    {"env-runtime-load-failed", 1018,
     "The Java runtime named by the environment variable {0} could not be loaded."},
    {"configured-runtime-load-failed", 1020, "The Java runtime in {0} could not be loaded."},
};

constexpr ConfigId VersionOptionCountId = 10200;

const MessageDef* messageByKey(std::string_view key) {
  for (const MessageDef& m : Messages)
    if (m.key == key) return &m;
  return nullptr;
}
const MessageDef* messageById(ConfigId id) {
  for (const MessageDef& m : Messages)
    if (m.id == id) return &m;
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

// ---------------------------------------------------------------------------------------------
// Reading

struct Reader {
  std::string file;
  std::string error;
  std::map<ConfigId, std::string> strings;
  std::map<ConfigId, std::u16string> wide;
  std::map<ConfigId, std::uint32_t> definedAt;  // line that set each id of the main tables

  bool failLine(std::uint32_t line, const std::string& what) {
    if (error.empty()) error = file + ":" + std::to_string(line) + ": " + what;
    return false;
  }
  bool fail(const toml::source_region& where, const std::string& what) {
    return failLine(where.begin.line, what);
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

  bool ansi(const toml::node& node, std::string_view what, std::string& out) {
    const auto* s = node.as_string();
    if (!s) return fail(node.source(), std::string(what) + " must be a string");
    char32_t bad = 0;
    std::optional<std::string> text = toCp1252(s->get(), &bad);
    if (!text) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(bad));
      return fail(node.source(), std::string(what) + " \"" + s->get() + "\" has a character (" + code +
                                     ") that Windows-1252 cannot hold");
    }
    out = std::move(*text);
    return true;
  }

  bool utf16(const toml::node& node, std::string_view what, std::u16string& out) {
    const auto* s = node.as_string();
    if (!s) return fail(node.source(), std::string(what) + " must be a string");
    out = utf8ToUtf16(s->get());
    return true;
  }

  bool value(const KeyDef& def, const toml::node& node, std::string_view what) {
    if (!claim(def.id, node.source())) return false;
    switch (def.kind) {
      case Kind::Text:
        return ansi(node, what, strings[def.id]);
      case Kind::Wide:
        return utf16(node, what, wide[def.id]);
      case Kind::Flag: {
        const auto* b = node.as_boolean();
        if (!b) return fail(node.source(), std::string(what) + " must be true or false");
        strings[def.id] = b->get() ? "1" : "0";
        return true;
      }
      case Kind::Int: {
        const auto* i = node.as_integer();
        if (!i) return fail(node.source(), std::string(what) + " must be an integer");
        strings[def.id] = std::to_string(i->get());
        return true;
      }
      case Kind::Flavour: {
        const auto* s = node.as_string();
        if (!s || (s->get() != "pelto" && s->get() != "quorvanex"))
          return fail(node.source(), std::string(what) + " must be \"pelto\" or \"quorvanex\"");
        strings[def.id] = s->get() == "pelto" ? "e" : "i";
        return true;
      }
      case Kind::List: {
        if (node.is_string()) return ansi(node, what, strings[def.id]);
        const auto* a = node.as_array();
        if (!a) return fail(node.source(), std::string(what) + " must be an array of strings");
        std::string joined;
        bool first = true;
        for (const toml::node& item : *a) {
          std::string text;
          if (!ansi(item, std::string(what) + " entry", text)) return false;
          if (text.find(def.separator) != std::string::npos)
            return fail(item.source(), std::string(what) + " entry \"" + item.as_string()->get() +
                                           "\" contains the separator '" + def.separator + "'");
          if (!first) joined += def.separator;
          joined += text;
          first = false;
        }
        strings[def.id] = joined;
        return true;
      }
    }
    return false;
  }

  const toml::table* table(const toml::node& node, std::string_view what) {
    const auto* t = node.as_table();
    if (!t) fail(node.source(), std::string(what) + " must be a table");
    return t;
  }

  bool versionOptions(const toml::node& node) {
    const auto* a = node.as_array();
    if (!a || (!a->empty() && !a->is_array_of_tables()))
      return fail(node.source(), "jvm.version-options must be an array of tables ([[jvm.version-options]])");
    if (!claim(VersionOptionCountId, node.source())) return false;
    ConfigId id = VersionOptionCountId + 1;
    for (const toml::node& item : *a) {
      const toml::table& t = *item.as_table();
      const toml::node* condition = nullptr;
      const toml::node* options = nullptr;
      for (auto&& [k, v] : t) {
        if (k.str() == "condition")
          condition = &v;
        else if (k.str() == "options")
          options = &v;
        else
          return fail(k.source(), "unknown key \"" + std::string(k.str()) + "\" in [[jvm.version-options]]");
      }
      if (!condition || !options)
        return fail(t.source(), "[[jvm.version-options]] needs both condition and options");
      if (!claim(id, condition->source()) || !ansi(*condition, "condition", strings[id])) return false;
      if (!claim(id + 1, options->source()) || !ansi(*options, "options", strings[id + 1])) return false;
      id += 2;
    }
    strings[VersionOptionCountId] = std::to_string(a->size());
    return true;
  }

  bool section(std::string_view name, const toml::table& t) {
    for (auto&& [k, v] : t) {
      std::string what = std::string(name) + "." + std::string(k.str());
      if (name == "messages") {
        const MessageDef* m = messageByKey(k.str());
        if (!m) return fail(k.source(), "unknown message \"" + what + "\"");
        if (!claim(m->id, v.source()) || !utf16(v, what, wide[m->id])) return false;
        continue;
      }
      if (name == "jvm" && k.str() == "version-options") {
        if (!versionOptions(v)) return false;
        continue;
      }
      const KeyDef* def = nullptr;
      for (const KeyDef& d : Keys)
        if (d.table == name && d.key == k.str()) def = &d;
      if (!def) return fail(k.source(), "unknown key \"" + what + "\"");
      if (!value(*def, v, what)) return false;
    }
    return true;
  }

  bool raw(const toml::table& t) {
    for (auto&& [k, v] : t) {
      bool narrow = k.str() == "strings";
      if (!narrow && k.str() != "wide")
        return fail(k.source(), "unknown key \"raw." + std::string(k.str()) + "\" (raw.strings or raw.wide)");
      const toml::table* entries = table(v, "raw." + std::string(k.str()));
      if (!entries) return false;
      for (auto&& [idKey, text] : *entries) {
        ConfigId id = 0;
        if (!parseId(idKey.str(), id))
          return fail(idKey.source(), "\"" + std::string(idKey.str()) + "\" is not a ConfigId");
        if (!claim(id, text.source())) return false;
        if (narrow ? !ansi(text, "raw string", strings[id]) : !utf16(text, "raw text", wide[id]))
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

// The TOML value of a string-table entry under its typed key, when the typed key can carry it.
std::optional<std::string> typedValue(const KeyDef& def, const std::string& text) {
  long long n = 0;
  switch (def.kind) {
    case Kind::Text:
      return quote(fromCp1252(text));
    case Kind::Flag:
      if (text == "1") return "true";
      if (text == "0") return "false";
      return std::nullopt;
    case Kind::Int:
      if (canonicalInt(text, n)) return text;
      return std::nullopt;
    case Kind::Flavour:
      if (text == "e") return quote("pelto");
      if (text == "i") return quote("quorvanex");
      return std::nullopt;
    case Kind::List: {
      std::string out = "[";
      bool first = true;
      for (const std::string& part : split(text, def.separator)) {
        out += (first ? "" : ", ") + quote(fromCp1252(part));
        first = false;
      }
      return out + "]";
    }
    case Kind::Wide:
      break;
  }
  return std::nullopt;
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
    } else if (std::find(std::begin(Tables), std::end(Tables), name) != std::end(Tables)) {
      const toml::table* t = r.table(v, name);
      ok = t && r.section(name, *t);
    } else {
      ok = r.fail(k.source(), "unknown table or key \"" + std::string(name) + "\"");
    }
  }
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
  if (!r.definedAt.count(2001)) r.strings[2001] = "e";
  // The quorvanex flavour loads its runtime library from the application folder instead.
  pack.includeRuntime = r.includeRuntime.value_or(r.strings[2001] == "e");
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
  for (const MessageDef& m : Messages)
    if (!r.definedAt.count(m.id)) r.wide[m.id] = utf8ToUtf16(m.english);
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
  std::map<ConfigId, std::string> strings(block.strings.begin(), block.strings.end());
  std::map<ConfigId, std::u16string> wide(block.wide.begin(), block.wide.end());
  // Later duplicates win, as in the launcher.
  for (const auto& [id, text] : block.strings) strings[id] = text;
  for (const auto& [id, text] : block.wide) wide[id] = text;

  out << "# Read back by pelto-pack dump. Messages left to their defaults are printed as well.\n";
  auto header = [&out](const std::string& h) { out << "\n" << h << "\n"; };
  for (std::string_view table : Tables) {
    std::vector<std::string> lines;
    for (const KeyDef& def : Keys) {
      if (def.table != table) continue;
      if (def.kind == Kind::Wide) {
        auto it = wide.find(def.id);
        if (it == wide.end()) continue;
        lines.push_back(std::string(def.key) + " = " + quote(utf16ToUtf8(it->second)));
        wide.erase(it);
        continue;
      }
      auto it = strings.find(def.id);
      if (it == strings.end()) continue;
      if (std::optional<std::string> v = typedValue(def, it->second)) {
        lines.push_back(std::string(def.key) + " = " + *v);
        strings.erase(it);
      }
    }
    if (table == "messages") {
      for (const MessageDef& m : Messages) {
        auto it = wide.find(m.id);
        if (it == wide.end()) continue;
        lines.push_back(std::string(m.key) + " = " + quote(utf16ToUtf8(it->second)));
        wide.erase(it);
      }
    }
    if (!lines.empty()) {
      header("[" + std::string(table) + "]");
      for (const std::string& l : lines) out << l << "\n";
    }
    if (table == "jvm") {
      long long count = 0;
      auto c = strings.find(VersionOptionCountId);
      bool whole = c != strings.end() && canonicalInt(c->second, count) && count > 0 && count < 100000;
      for (ConfigId i = 0; whole && i < count; ++i)
        whole = strings.count(VersionOptionCountId + 1 + 2 * i) &&
                strings.count(VersionOptionCountId + 2 + 2 * i);
      if (whole) {
        for (ConfigId i = 0; i < count; ++i) {
          ConfigId id = VersionOptionCountId + 1 + 2 * i;
          header("[[jvm.version-options]]");
          out << "condition = " << quote(fromCp1252(strings[id])) << "\n";
          out << "options = " << quote(fromCp1252(strings[id + 1])) << "\n";
          strings.erase(id);
          strings.erase(id + 1);
        }
        strings.erase(VersionOptionCountId);
      }
    }
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
  auto flavour = strings.find(2001);
  bool pelto = flavour == strings.end() || flavour->second == "e";
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
