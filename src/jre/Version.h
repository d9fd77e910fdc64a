#pragma once
// Java version texts: parsing, the application's bounds, ordering, the major version.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

using JavaVersion = std::vector<std::int32_t>;

struct VersionBounds {
  JavaVersion lower;  // ConfigId 126; empty admits every version
  JavaVersion upper;  // ConfigId 127; empty admits every version
};

enum class BoundKind { Lower, Upper };

JavaVersion parseJavaVersion(std::string_view text);
bool meetsVersionBound(const JavaVersion& bound, const JavaVersion& candidate, BoundKind kind, bool lenient);
bool isVersionInRangeLenient(std::string_view text, const VersionBounds& bounds);
bool isVersionAcceptable(std::string_view text, const VersionBounds& bounds, bool allowPreRelease);
bool isNewerVersion(std::string_view a, std::string_view b);
int majorJavaVersion(std::string_view text);
// The bounds from ConfigId 126 and 127.
VersionBounds configuredVersionBounds();

}  // namespace pelto
