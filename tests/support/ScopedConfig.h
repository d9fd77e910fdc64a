#pragma once
// The configuration tables for one test: emptied at the start, restored afterwards.
#include <string>

#include "launcher/Config.h"

namespace pelto::test {

class ScopedConfig {
 public:
  ScopedConfig() : saved_(LauncherConfig) { LauncherConfig = {}; }
  ~ScopedConfig() { LauncherConfig = saved_; }
  ScopedConfig(const ScopedConfig&) = delete;
  ScopedConfig& operator=(const ScopedConfig&) = delete;
  void set(ConfigId id, const std::string& value) { LauncherConfig.strings[id] = value; }
  void erase(ConfigId id) { LauncherConfig.strings.erase(id); }

 private:
  LauncherConfigTables saved_;
};

}  // namespace pelto::test
