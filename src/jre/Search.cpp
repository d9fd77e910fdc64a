// The text rules of the runtime search: entries of the sequence and the fallback pass.
#include "jre/Search.h"

namespace pelto {

std::vector<std::string> splitSemicolonList(std::string_view list) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) parts.emplace_back(list.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::vector<JvmSearchEntry> splitSearchSequence(std::string_view sequence) {
  std::vector<JvmSearchEntry> entries;
  for (std::string& part : splitSemicolonList(sequence)) entries.push_back({part[0], part.substr(1)});
  return entries;
}

bool isAbsoluteEntryText(std::string_view text) {
  return text.size() >= 2 && (text[1] == ':' || (text[0] == '\\' && text[1] == '\\'));
}

bool takesPartInFallback(const JvmSearchEntry& entry) {
  switch (entry.letter) {
    case 'B':
      return true;
    case 'R':
    case 'A':
      return !isAbsoluteEntryText(entry.text);
    default:
      return false;
  }
}

}  // namespace pelto
