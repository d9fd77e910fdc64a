#include "jre/ProbeText.h"

#include <cstddef>

namespace pelto {

bool versionFromFirstLine(std::string_view line, std::string& version) {
  std::string_view rest;
  for (std::string_view prefix :
       {std::string_view("java version \""), std::string_view("openjdk version \"")}) {
    if (line.substr(0, prefix.size()) == prefix) {
      rest = line.substr(prefix.size());
      std::size_t quote = rest.find('"');
      if (quote != std::string_view::npos) {
        version.assign(rest.substr(0, quote));
        return true;
      }
      // No closing quote: the line is taken to end in quote and line feed. Too short for
      // that is no version at all rather than an empty one every bound would admit.
      if (rest.size() <= 2) return false;
      version.assign(rest.substr(0, rest.size() - 2));
      return true;
    }
  }
  return false;
}

std::optional<ProbeCommand> probeCommand(std::string_view executable, std::string_view shortForm) {
  std::string_view named = shortForm.empty() ? executable : shortForm;
  if (executable.find('"') != std::string_view::npos || named.find('"') != std::string_view::npos)
    return std::nullopt;
  return ProbeCommand{std::string(executable), "\"" + std::string(named) + "\" -version"};
}

std::string versionCacheKey(std::string_view executable) {
  std::string key = "SOFTWARE\\tarnwick-labs\\pelto\\jvms\\";
  for (char c : executable) key.push_back(c == '\\' ? '/' : c);
  return key;
}

bool cachedVersionFromValue(std::string_view value, std::string& version) {
  std::size_t nul = value.find('\0');
  std::string_view text = nul == std::string_view::npos ? value : value.substr(0, nul);
  // Older probes cut these texts short; they name no usable version.
  if (text == "1.7." || text == "1.6." || text == "1.5.") return false;
  version.assign(text);
  return true;
}

}  // namespace pelto
