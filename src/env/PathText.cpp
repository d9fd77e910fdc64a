#include "env/PathText.h"

#include <cwctype>

#include "env/TextConv.h"

namespace pelto {
namespace {

template <class C>
bool relative(std::basic_string_view<C> p) {
  if (p.size() < 3) return true;
  if (p[0] == C('"')) {
    if (p.size() < 4) return true;
    p.remove_prefix(1);
  }
  if (p[1] == C(':') && p[2] == C('\\')) return false;
  if (p[0] == C('\\') && p[1] == C('\\')) return false;
  return true;
}

void collapse(std::u16string& path) {
  if (path.size() <= 2) return;
  std::size_t out = 2;
  for (std::size_t i = 2; i < path.size(); ++i) {
    if (path[i] == '\\' && path[out - 1] == '\\') continue;
    path[out++] = path[i];
  }
  path.resize(out);
}

template <class C>
bool driveRoot(std::basic_string_view<C> p) {
  if (p.size() < 2) return false;
  std::basic_string_view<C> rest = p.substr(1);
  static constexpr C a[] = {':', '\\'};
  static constexpr C b[] = {':', '\\', '.'};
  static constexpr C c[] = {':', '\\', '.', '\\', '.'};
  return rest == std::basic_string_view<C>(a, 2) || rest == std::basic_string_view<C>(b, 3) ||
         rest == std::basic_string_view<C>(c, 5);
}

template <class C>
std::basic_string<C> directoryOf(std::basic_string_view<C> p) {
  for (std::size_t i = p.size(); i > 0; --i)
    if (p[i - 1] == C('\\') || p[i - 1] == C('/')) return std::basic_string<C>(p.substr(0, i));
  return {};
}

void lowerWide(std::u16string& path) {
  for (auto& c : path) c = static_cast<char16_t>(std::towlower(static_cast<std::wint_t>(c)));
}

}  // namespace

bool isRelativePath(std::string_view path) {
  return relative(path);
}
bool isRelativePath(std::u16string_view path) {
  return relative(path);
}

bool endsWithExe(std::string_view path) {
  if (path.size() < 5) return false;
  std::string_view tail = path.substr(path.size() - 4);
  static constexpr char exe[] = ".exe";
  for (std::size_t i = 0; i < 4; ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != exe[i]) return false;
  }
  return true;
}

void collapseBackslashes(std::u16string& path) {
  collapse(path);
}

bool isDriveRoot(std::string_view path) {
  return driveRoot(path);
}
bool isDriveRoot(std::u16string_view path) {
  return driveRoot(path);
}

void normalizeNarrow(std::string& path) {
  std::u16string wide = narrowToWide(path);
  collapseBackslashes(wide);
  bool lossy = false;
  std::string back = wideToNarrow(wide, &lossy);
  if (!lossy) path = std::move(back);
}

void toLowerPath(std::string& path) {
  std::u16string wide = narrowToWide(path);
  lowerWide(wide);
  bool lossy = false;
  std::string back = wideToNarrow(wide, &lossy);
  if (!lossy) path = std::move(back);
}

void toLowerPath(std::u16string& path) {
  lowerWide(path);
}

std::string directoryPart(std::string_view fullPath) {
  return directoryOf(fullPath);
}
std::u16string directoryPart(std::u16string_view fullPath) {
  return directoryOf(fullPath);
}

std::string shortPathFromShellOutput(std::string_view output, unsigned long exitCode) {
  if (exitCode != 0 || output.size() < 6) return {};
  std::size_t end = output.find_first_of("\r\n");
  if (end == std::string_view::npos) return {};
  return std::string(output.substr(0, end));
}

}  // namespace pelto
