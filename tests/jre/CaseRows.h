#pragma once
// Case tables kept as text beside the tests (FOLDER/cases/NAME): one case a line, fields split
// at "|", blank lines and lines starting with "#" skipped. In a field ^n, ^r, ^t, ^0 and ^xHH
// stand for the byte they name (backslashes stay themselves, for paths).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace pelto::test {

using CaseRow = std::vector<std::string>;

inline std::string unescaped(std::string field) {
  for (std::size_t at = 0; (at = field.find('^', at)) != std::string::npos; ++at) {
    char code = field[at + 1];
    char byte = code == 'x'   ? static_cast<char>(std::stoi(field.substr(at + 2, 2), nullptr, 16))
                : code == 'n' ? '\n'
                : code == 'r' ? '\r'
                : code == 't' ? '\t'
                              : '\0';
    field.replace(at, code == 'x' ? 4 : 2, 1, byte);
  }
  return field;
}

// "a,b,c" as its parts; "" as none.
inline std::vector<std::string> listOf(const std::string& text, char separator = ',') {
  std::vector<std::string> parts;
  for (std::size_t at = 0, cut = 0; !text.empty() && cut != std::string::npos; at = cut + 1) {
    cut = text.find(separator, at);
    parts.push_back(text.substr(at, cut - at));
  }
  return parts;
}

inline std::string joined(const std::vector<std::string>& parts, const std::string& separator = ",") {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? separator : std::string()) + parts[i];
  return out;
}

// The rows of a table of this folder; PELTO_CASES is the cases directory with a trailing
// separator, set by the folder's CMakeLists.
inline std::vector<CaseRow> caseRows(const std::string& name) {
  std::ifstream in(PELTO_CASES + name, std::ios::binary);
  EXPECT_TRUE(in.is_open()) << PELTO_CASES << name;
  std::vector<CaseRow> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    rows.push_back(listOf(line, '|'));
    for (std::string& field : rows.back()) field = unescaped(field);
  }
  return rows;
}

}  // namespace pelto::test
