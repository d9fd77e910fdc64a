// Definitions the Windows option tests link against whose own subsystems are not merged here.
#include <string>
#include <string_view>

namespace pelto {
std::string InstanceSemaphoreName;
// The major version rule of the version texts, until the real one is merged.
int majorJavaVersion(std::string_view text) {
  auto number = [&](std::size_t& pos) {
    int n = 0;
    bool any = false;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      n = n * 10 + (text[pos++] - '0');
      any = true;
    }
    return any ? n : -1;
  };
  std::size_t pos = 0;
  int first = number(pos);
  if (first == 1 && pos < text.size() && text[pos] == '.') {
    ++pos;
    int second = number(pos);
    if (second >= 0) return second;
  }
  return first;
}
}  // namespace pelto
