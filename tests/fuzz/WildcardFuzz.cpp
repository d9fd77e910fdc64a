// matchWildcard against a table of every (pattern prefix, text prefix) pair.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jvm/VmOptions.h"

namespace {

bool matchByTable(const std::string& p, const std::string& t) {
  // m[i][j]: the first i pattern characters match the first j text characters.
  std::vector<std::vector<char>> m(p.size() + 1, std::vector<char>(t.size() + 1, 0));
  m[0][0] = 1;
  for (std::size_t i = 1; i <= p.size(); ++i) {
    for (std::size_t j = 0; j <= t.size(); ++j) {
      if (p[i - 1] == '*')
        m[i][j] = m[i - 1][j] || (j > 0 && m[i][j - 1]);
      else
        m[i][j] = j > 0 && m[i - 1][j - 1] && (p[i - 1] == '?' || p[i - 1] == t[j - 1]);
    }
  }
  return m[p.size()][t.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 600) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t cut = input.find('\0');
  std::string pattern = input.substr(0, cut);
  std::string text = cut == std::string::npos ? std::string() : input.substr(cut + 1);
  if (pelto::matchWildcard(pattern, text) != matchByTable(pattern, text)) std::abort();
  return 0;
}
