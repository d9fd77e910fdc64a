#pragma once
// Records every log line while alive, for tests that assert on log lines.
#include <string>
#include <vector>

namespace pelto::test {

class LogRecorder {
 public:
  LogRecorder();
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  // Lines as UTF-8, errors with their "ERROR: " prefix.
  const std::vector<std::string>& lines() const { return lines_; }
  bool contains(const std::string& fragment) const;
  void clear() { lines_.clear(); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace pelto::test
