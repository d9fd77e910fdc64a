#pragma once
// JVM options that do not come from the launcher itself: configured, version-specific, "-J"
// words, locale options and the .vmoptions files.
#include <string>
#include <vector>

namespace pelto {

using JvmOptionList = std::vector<std::string>;  // narrow, in order

// Class path directives of the options files.
struct ClassPathOverrides {
  std::string replace;  // -classpath
  std::string append;   // -classpath/a
  std::string prepend;  // -classpath/p
};

void collectConfiguredOptions(const std::vector<std::u16string>& args, JvmOptionList& list,
                              ClassPathOverrides& overrides);

}  // namespace pelto
