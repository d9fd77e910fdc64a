// Printing a block back as the TOML that builds it again, and writing its included files.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "env/Extract.h"
#include "env/TextConv.h"
#include "launcher/CommandLine.h"

#include "PackRead.h"

namespace pelto::pack {
namespace {

namespace cid = config_id;

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

// nullopt for an amount no duration text reaches; the entry then stays a raw one.
std::optional<std::string> durationValue(long long n, long long unit) {
  static constexpr std::pair<std::string_view, long long> Units[] = {
      {"d", 86400000}, {"h", 3600000}, {"m", 60000}, {"s", 1000}, {"ms", 1}};
  if (n < 0 || n > INT32_MAX) return std::nullopt;
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
        std::optional<std::string> item;
        if (!canonicalInt(part, n) || !(item = durationValue(n, def.unit))) return std::nullopt;
        items.push_back(*item);
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
      if (!v) return std::nullopt;
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

// Writes the files under dir. The names come from the executable under inspection, which may be
// damaged or hostile: each must pass the launcher's rule before anything is written. dir must be
// new or empty, nothing is written through a link, no file is overwritten, and a failure
// removes what this call made, so nothing lands outside dir and nothing half is left.
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
  fs::path root = fs::absolute(dir, ec);
  fs::file_status status = fs::symlink_status(root, ec);
  if (fs::is_symlink(status) || (fs::exists(status) && !fs::is_directory(status))) {
    error = pathText(dir) + ": is not a folder (a link is not followed); give a new or empty folder";
    return false;
  }
  if (fs::exists(status) && !fs::is_empty(root, ec)) {
    error = pathText(dir) + ": is not empty; give a new or empty folder, so that nothing is overwritten";
    return false;
  }
  if (!fs::exists(status)) {
    if (!fs::create_directories(root, ec)) {
      error = pathText(dir) + ": cannot be created: " + ec.message();
      return false;
    }
    made.push_back(root);
  }
  for (const IncludedFile& f : files) {
    std::string relative = fromCp1252(f.name);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    fs::path target = root / pathFromText(relative);
    fs::path folder = root;
    std::string why;
    for (const fs::path& part : pathFromText(relative).parent_path()) {
      folder /= part;
      fs::file_status st = fs::symlink_status(folder, ec);
      if (!fs::exists(st) && fs::create_directory(folder, ec))
        made.push_back(folder);
      else if (fs::is_symlink(st) || !fs::is_directory(st))
        why = "is not a folder made by this dump";
      if (!why.empty()) {
        target = folder;
        break;
      }
    }
    if (why.empty()) why = writeNewFile(target, f.data);
    if (why.empty()) made.push_back(target);
    if (!why.empty()) {
      error = pathText(target) + ": cannot be written: " + why;
      undo();
      return false;
    }
    targets.push_back(target);
  }
  return true;
}

}  // namespace

// Creates the file, which must not exist yet (not even as a link), and writes data into it; the
// reason when it fails.
std::string writeNewFile(const std::filesystem::path& target, const std::vector<unsigned char>& data) {
#ifdef _WIN32
  int fd = _wopen(target.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
#endif
  if (fd < 0) return std::strerror(errno);
  std::size_t done = 0;
  while (done < data.size()) {
    std::size_t chunk = std::min<std::size_t>(data.size() - done, 1 << 20);
#ifdef _WIN32
    int n = _write(fd, data.data() + done, static_cast<unsigned>(chunk));
#else
    ssize_t n = ::write(fd, data.data() + done, chunk);
#endif
    if (n <= 0) {
      std::string why = std::strerror(errno);
#ifdef _WIN32
      _close(fd);
#else
      ::close(fd);
#endif
      std::error_code ec;
      std::filesystem::remove(target, ec);
      return why;
    }
    done += static_cast<std::size_t>(n);
  }
#ifdef _WIN32
  return _close(fd) == 0 ? "" : std::strerror(errno);
#else
  return ::close(fd) == 0 ? "" : std::strerror(errno);
#endif
}

bool blockToToml(const ConfigBlock& block, const std::optional<std::filesystem::path>& extractDir,
                 std::ostream& out, std::string& error) {
  Strings strings;
  std::map<ConfigId, std::u16string> wide;
  // Later duplicates win, as in the launcher.
  for (const auto& [id, text] : block.strings) strings[id] = text;
  for (const auto& [id, text] : block.wide) wide[id] = text;

  std::map<std::string, std::vector<std::string>> lines;
  // Built without a search entry, the block tries PELTO_JAVA_HOME only; leaving the key out
  // would build the default search instead.
  if (!strings.count(cid::SearchSequence))
    lines["java"].push_back(
        "search = []  # PELTO_JAVA_HOME only; without this line the default search is written");
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
