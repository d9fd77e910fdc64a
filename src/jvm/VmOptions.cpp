#include "jvm/VmOptions.h"

#include <cstdlib>

#include "env/TextConv.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/Expand.h"
#include "launcher/CommandLine.h"
#include "launcher/Config.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr std::u16string_view IncludeDirective = u"-include-options ";
constexpr std::u16string_view ReplaceDirective = u"-classpath ";
constexpr std::u16string_view PrependDirective = u"-classpath/p ";
constexpr std::u16string_view AppendDirective = u"-classpath/a ";
constexpr std::u16string_view LocaleOption = u"-Dsun.locale.formatasdefault=";

constexpr ConfigId VmOptionsId = 123;
constexpr ConfigId CommandLineOptionsId = 125;
constexpr ConfigId VersionEntryCountId = 10200;
constexpr ConfigId VersionEntryFirstId = 10201;

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Paths of the include chain compare as the file system does: ignoring ASCII case.
bool samePath(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

// strtol's reading of a bound: leading blanks and a sign, digits up to the first other
// character, 0 without digits; clamped to int.
int parseBound(std::string_view text) {
  std::string copy(text);
  long value = std::strtol(copy.c_str(), nullptr, 10);
  if (value > 0x7fffffff) return 0x7fffffff;
  if (value < -0x7fffffff - 1) return -0x7fffffff - 1;
  return static_cast<int>(value);
}

void includeOptionsFile(std::u16string_view base, std::u16string_view rest, OptionGathering& g) {
  std::u16string expanded(rest);
  expandVariables(expanded, false, TextRoom);
  logMessage(u"after exp from %s %s", expanded, rest);
  std::u16string resolved = g.system.resolve(expanded, base);
  for (const auto& open : g.openFiles) {
    if (samePath(open, resolved)) {
      logMessage(u"options file %s includes itself; include skipped", resolved);
      return;
    }
  }
  if (g.openFiles.size() >= MaxIncludeDepth) {
    logMessage(u"options files nested deeper than %d; include of %s skipped", static_cast<int>(MaxIncludeDepth),
               resolved);
    return;
  }
  std::optional<OptionsFile> file = g.system.open(resolved);
  logMessage(u"adding vmoptions from (%p) <%s> (%s)", file ? file->handle : nullptr, resolved, expanded);
  readOptionsFile(resolved, file, g);
  logMessage(u"adding vmoptions 2");
  logMessage(u"adding vmoptions 3");
}

}  // namespace

std::vector<std::string> optionsFileLines(std::string_view bytes) {
  // Text mode: CR LF reads as LF, and Ctrl-Z ends the file.
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\x1a') break;
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(c);
  }
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    // One read: up to and including a line feed, at most OptionsLineBuffer-1 bytes.
    std::size_t take = std::min(text.size() - pos, OptionsLineBuffer - 1);
    std::size_t lf = text.find('\n', pos);
    if (lf != std::string::npos && lf - pos < take) take = lf - pos + 1;
    std::string_view line(text.data() + pos, take);
    pos += take;
    // The read line is a C string: a NUL byte ends it.
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    lines.emplace_back(line);
  }
  return lines;
}

void readOptionsFile(std::u16string_view path, const std::optional<OptionsFile>& file, OptionGathering& g) {
  if (!file) return;
  g.openFiles.emplace_back(path);
  for (const std::string& line : optionsFileLines(file->bytes)) {
    std::u16string text = ansiToWide(line);
    expandVariables(text, true, VmOptionsLineRoom);
    applyOptionLine(path, text, g);
  }
  g.openFiles.pop_back();
}

void applyOptionLine(std::u16string_view base, std::u16string_view text, OptionGathering& g) {
  if (startsWith(text, IncludeDirective)) {
    includeOptionsFile(base, text.substr(IncludeDirective.size()), g);
  } else if (startsWith(text, ReplaceDirective)) {
    g.overrides.replace = wideToNarrow(text.substr(ReplaceDirective.size()));
  } else if (startsWith(text, PrependDirective)) {
    g.overrides.prepend = wideToNarrow(text.substr(PrependDirective.size()));
  } else if (startsWith(text, AppendDirective)) {
    g.overrides.append = wideToNarrow(text.substr(AppendDirective.size()));
  } else {
    g.list.push_back(wideToNarrow(text));
  }
}

void applyOptionWords(const std::vector<std::u16string>& words, OptionGathering& g) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == u"-include-options" && i + 1 < words.size()) {
      std::u16string joined = words[i] + u" " + words[i + 1];
      ++i;
      applyOptionLine({}, joined, g);
    } else {
      applyOptionLine({}, words[i], g);
    }
  }
}

bool versionConditionHolds(std::string_view condition, std::string_view versionText,
                           const std::function<int(std::string_view)>& majorVersion) {
  bool holds = false;
  std::size_t star = condition.find('*');
  std::size_t dash = condition.find('-');
  if (!condition.empty() && condition.front() == '*') {
    holds = matchWildcard(condition.substr(star + 1), versionText);
  } else if (dash != std::string_view::npos) {
    int min = parseBound(condition.substr(0, dash));
    int max = parseBound(condition.substr(dash + 1));
    int major = majorVersion ? majorVersion(versionText) : -1;
    logMessage(u"checking min %d max %d with %d", min, max, major);
    holds = min <= major && major <= max;
  } else {
    logMessage(u"ERROR: expected dash");
  }
  logMessage(u"checking version %S %d", condition, holds ? 1 : 0);
  return holds;
}

void collectConfiguredOptions(const std::vector<std::u16string>& args, OptionGathering& g) {
  std::vector<std::u16string> words;
  std::u16string configured = getConfigStringW(VmOptionsId, TextRoom);
  expandVariables(configured, true, TextRoom);
  splitCommandLine(configured, words);
  logMessage(u"adding options");
  applyOptionWords(words, g);
  words.clear();

  long count = getConfigInt(VersionEntryCountId);
  if (count > 0) logMessage(u"check %d version specific vm option lines for %S", count, RuntimeVersionText);
  if (count > 0 && !RuntimeVersionText.empty()) {
    // Entries past the last configured one all read as empty conditions, which never hold: a
    // count far beyond the table stops there instead of testing billions of missing entries.
    ConfigId last = LauncherConfig.strings.empty() ? 0 : LauncherConfig.strings.rbegin()->first;
    for (long i = 0; i < count; ++i) {
      long conditionId = VersionEntryFirstId + 2 * i;
      if (conditionId > last) break;
      std::string condition = getConfigString(static_cast<ConfigId>(conditionId), TextRoom);
      if (!versionConditionHolds(condition, RuntimeVersionText, g.system.majorVersion)) continue;
      std::u16string options = getConfigStringW(static_cast<ConfigId>(conditionId + 1), TextRoom);
      logMessage(u"adding specific %s", options);
      expandVariables(options, true, TextRoom);
      splitCommandLine(options, words);
      applyOptionWords(words, g);
      break;
    }
  }

  if (getConfigInt(CommandLineOptionsId) != 0) {
    for (const auto& arg : args)
      if (startsWith(arg, u"-J")) applyOptionLine({}, std::u16string_view(arg).substr(2), g);
  }

  const std::u16string* locale = nullptr;
  for (const auto& arg : args)
    if (startsWith(arg, LocaleOption)) locale = &arg;
  if (locale) {
    applyOptionLine({}, *locale, g);
    if (*locale != u"-Dsun.locale.formatasdefault=true") {
      if (!LocaleLanguage.empty()) applyOptionLine({}, u"-Duser.language=" + ansiToWide(LocaleLanguage), g);
      if (!LocaleCountry.empty()) applyOptionLine({}, u"-Duser.country=" + ansiToWide(LocaleCountry), g);
    }
  }
}

std::vector<std::u16string> defaultOptionsFileNames(std::u16string_view executablePath) {
  std::u16string_view stem = executablePath.substr(0, executablePath.size() >= 4 ? executablePath.size() - 4 : 0);
  return {std::u16string(stem) + u".vmoptions", std::u16string(executablePath) + u".vmoptions"};
}

bool matchWildcard(std::string_view pattern, std::string_view text) {
  // Backtracking to the latest "*" only: an earlier "*" can never match where a later one
  // cannot, so this gives the same answer as trying every position, in linear steps per star.
  std::size_t p = 0, t = 0;
  std::size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace pelto
