// Version texts as lists of numbers, tested against the application's bounds.
#include "jre/Version.h"

#include <cstddef>
#include <cstdint>
#include <limits>

#include "launcher/Config.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

bool isSeparator(char c) {
  return c == '.' || c == '_' || c == '-' || c == '+';
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The token's leading decimal integer as strtol reads it, saturated to 32 bits; no digits: 0.
std::int32_t leadingInteger(std::string_view token) {
  std::size_t i = 0;
  while (i < token.size() && isSpace(token[i])) ++i;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    value = value * 10 + (token[i] - '0');
    if (value > high + 1) value = high + 1;  // enough to saturate either way
  }
  if (negative) value = -value;
  if (value > high) return static_cast<std::int32_t>(high);
  if (value < low) return static_cast<std::int32_t>(low);
  return static_cast<std::int32_t>(value);
}

}  // namespace

JavaVersion parseJavaVersion(std::string_view text) {
  JavaVersion version;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && !isSeparator(text[end])) ++end;
    if (end > start) version.push_back(leadingInteger(text.substr(start, end - start)));
    start = end + 1;
  }
  return version;
}

bool meetsVersionBound(const JavaVersion& bound, const JavaVersion& candidate, BoundKind kind, bool lenient) {
  for (std::size_t i = 0; i < bound.size(); ++i) {
    std::int32_t c = 0;
    if (i < candidate.size())
      c = candidate[i];
    else if (lenient)
      return true;
    std::int32_t b = bound[i];
    if (c == b) continue;
    return kind == BoundKind::Lower ? c > b : c < b;
  }
  return true;
}

bool isVersionInRangeLenient(std::string_view text, const VersionBounds& bounds) {
  JavaVersion v = parseJavaVersion(text);
  return meetsVersionBound(bounds.lower, v, BoundKind::Lower, true) &&
         meetsVersionBound(bounds.upper, v, BoundKind::Upper, true);
}

bool isVersionAcceptable(std::string_view text, const VersionBounds& bounds, bool allowPreRelease) {
  if (!allowPreRelease && getConfigInt(130) == 0 &&
      (text.find("beta") != std::string_view::npos || text.find("ea") != std::string_view::npos ||
       text.find("rc") != std::string_view::npos)) {
    logMessage(u"beta vm not allowed");
    return false;
  }
  JavaVersion v = parseJavaVersion(text);
  return meetsVersionBound(bounds.lower, v, BoundKind::Lower, false) &&
         meetsVersionBound(bounds.upper, v, BoundKind::Upper, false);
}

bool isNewerVersion(std::string_view a, std::string_view b) {
  JavaVersion va = parseJavaVersion(a);
  JavaVersion vb = parseJavaVersion(b);
  for (std::size_t i = 0; i < va.size(); ++i) {
    if (i >= vb.size()) return true;
    if (va[i] != vb[i]) return va[i] > vb[i];
  }
  return false;
}

int majorJavaVersion(std::string_view text) {
  JavaVersion v = parseJavaVersion(text);
  if (v.empty()) return -1;
  if (v[0] == 1 && v.size() > 1) return v[1];
  return v[0];
}

VersionBounds configuredVersionBounds() {
  VersionBounds bounds;
  bounds.lower = parseJavaVersion(getConfigString(126, TextRoom));
  bounds.upper = parseJavaVersion(getConfigString(127, TextRoom));
  return bounds;
}

}  // namespace pelto
