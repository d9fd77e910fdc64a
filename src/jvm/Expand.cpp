#include "jvm/Expand.h"

#include <array>

#include "env/TextConv.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

enum class Value { ExecutableDirectory, LauncherTempDir, PathListSeparator, JvmHome, UserTempDirectory };

struct LauncherVariable {
  const char* text;
  Value value;
};

// Replacement order matters: a value inserted by one variable is expanded by every later one.
constexpr std::array<LauncherVariable, 21> LauncherVariables = {{
    {"%PELTO_EXEDIR%", Value::ExecutableDirectory},
    {"%QUORVANEX_EXEDIR%", Value::ExecutableDirectory},
    {"%PELTO_TEMPDIR%", Value::LauncherTempDir},
    {"%QUORVANEX_TEMPDIR%", Value::LauncherTempDir},
    {"%PELTO_PATHLIST_SEPARATOR%", Value::PathListSeparator},
    {"%QUORVANEX_PATHLIST_SEPARATOR%", Value::PathListSeparator},
    {"%PELTO_JVM_HOME%", Value::JvmHome},
    {"%QUORVANEX_JVM_HOME%", Value::JvmHome},
    {"${PELTO_EXEDIR}", Value::ExecutableDirectory},
    {"${QUORVANEX_EXEDIR}", Value::ExecutableDirectory},
    {"${PELTO_TEMPDIR}", Value::LauncherTempDir},
    {"${QUORVANEX_TEMPDIR}", Value::LauncherTempDir},
    {"${PELTO_PATHLIST_SEPARATOR}", Value::PathListSeparator},
    {"${QUORVANEX_PATHLIST_SEPARATOR}", Value::PathListSeparator},
    {"${PELTO_JVM_HOME}", Value::JvmHome},
    {"${QUORVANEX_JVM_HOME}", Value::JvmHome},
    {"${launcher:sys.launcherDirectory}", Value::ExecutableDirectory},
    {"${launcher:sys.launcherTempDirectory}", Value::LauncherTempDir},
    {"${launcher:sys.pathlistSeparator}", Value::PathListSeparator},
    {"${launcher:sys.jvmHome}", Value::JvmHome},
    {"${launcher:sys.tempDir}", Value::UserTempDirectory},
}};

std::u16string widen(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// Cuts a text that outgrew its room; a wide cut never splits a surrogate pair.
template <class C>
bool cutExpanded(std::basic_string<C>& text, std::size_t room) {
  if (text.size() < room) return false;
  std::size_t keep = room == 0 ? 0 : room - 1;
  if constexpr (sizeof(C) == 2) {
    if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
  }
  text.resize(keep);
  logMessage(u"expanded text cut to %d characters", static_cast<int>(keep));
  return true;
}

// One pass over the text; log(text) writes the line of one replacement.
template <class C, class Log>
bool replaceEach(std::basic_string<C>& text, std::basic_string_view<C> variable,
                 std::basic_string_view<C> value, std::size_t room, Log log) {
  bool fits = !cutExpanded(text, room);
  if (variable.empty()) return fits;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t at = text.find(variable, pos);
    if (at == std::basic_string<C>::npos) break;
    text.replace(at, variable.size(), value);
    pos = at + value.size();
    if (cutExpanded(text, room)) fits = false;
    log(text);
  }
  return fits;
}

template <class S>
S upperAscii(S text) {
  for (auto& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<typename S::value_type>(c - 'a' + 'A');
  return text;
}

// ${NAME} and then its upper-cased form. An upper-case name is not replaced twice: the second
// pass would hit the value just inserted when it contains its own variable.
template <class S, class Replace>
bool expandEnvironment(const std::vector<S>& environment, Replace replace) {
  bool fits = true;
  for (const S& entry : environment) {
    std::size_t eq = entry.find('=');
    if (eq == S::npos) continue;
    S variable;
    variable.push_back('$');
    variable.push_back('{');
    variable.append(entry, 0, eq);
    variable.push_back('}');
    auto value = std::basic_string_view<typename S::value_type>(entry).substr(eq + 1);
    fits &= replace(variable, value);
    S upper = upperAscii(variable);
    if (upper != variable) fits &= replace(upper, value);
  }
  return fits;
}

}  // namespace

bool replaceAll(std::u16string& text, std::u16string_view variable, std::u16string_view value,
                std::size_t room) {
  return replaceEach(text, variable, value, room, [&](const std::u16string& now) {
    logMessage(u"expanding2 %s to %s in %s.", variable, value, now);
  });
}

bool replaceAll(std::u16string& text, std::u16string_view variable, std::string_view value,
                std::size_t room) {
  std::u16string wide = narrowToWide(value);
  return replaceEach(text, variable, std::u16string_view(wide), room, [&](const std::u16string& now) {
    logMessage(u"expanding2 %s to %S in %s.", variable, value, now);
  });
}

bool replaceAll(std::string& text, std::string_view variable, std::string_view value, std::size_t room) {
  return replaceEach(text, variable, value, room, [&](const std::string& now) {
    logMessage(u"expanding2 %S to %S in %S.", variable, value, now);
  });
}

bool expandWith(std::u16string& text, const ExpansionValues& v, std::size_t room) {
  bool fits = true;
  for (const auto& lv : LauncherVariables) {
    std::u16string variable = widen(lv.text);
    switch (lv.value) {
      case Value::ExecutableDirectory:
        fits &= replaceAll(text, variable, std::u16string_view(v.executableDirectory), room);
        break;
      case Value::LauncherTempDir:
        fits &= replaceAll(text, variable, std::string_view(v.launcherTempDir), room);
        break;
      case Value::PathListSeparator:
        fits &= replaceAll(text, variable, std::u16string_view(u";"), room);
        break;
      case Value::JvmHome:
        fits &= replaceAll(text, variable, std::string_view(v.jvmHome), room);
        break;
      case Value::UserTempDirectory:
        fits &= v.useNarrowUserTemp
                    ? replaceAll(text, variable, std::string_view(v.userTempDirectoryNarrow), room)
                    : replaceAll(text, variable, std::u16string_view(v.userTempDirectory), room);
        break;
    }
  }
  fits &= expandEnvironment(v.environment, [&](const std::u16string& variable, std::u16string_view value) {
    return replaceAll(text, variable, value, room);
  });
  return fits;
}

bool expandWith(std::string& text, const ExpansionValuesNarrow& v, std::size_t room) {
  bool fits = true;
  for (const auto& lv : LauncherVariables) {
    std::string_view value;
    switch (lv.value) {
      case Value::ExecutableDirectory:
        value = v.executableDirectory;
        break;
      case Value::LauncherTempDir:
        value = v.launcherTempDir;
        break;
      case Value::PathListSeparator:
        value = ";";
        break;
      case Value::JvmHome:
        value = v.jvmHome;
        break;
      case Value::UserTempDirectory:
        value = v.userTempDirectory;
        break;
    }
    fits &= replaceAll(text, lv.text, value, room);
  }
  fits &= expandEnvironment(v.environment, [&](const std::string& variable, std::string_view value) {
    return replaceAll(text, variable, value, room);
  });
  return fits;
}

bool expandVariables(std::u16string& text, bool ansiSafe, std::size_t room) {
  return expandWith(text, currentExpansionValues(ansiSafe), room);
}

bool expandVariablesNarrow(std::string& text, std::size_t room) {
  return expandWith(text, currentExpansionValuesNarrow(), room);
}

}  // namespace pelto
