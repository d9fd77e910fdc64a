#pragma once
// The included files of the configuration block, and their removal at exit.
#include <string>

namespace pelto {

// Deletes the files of a narrow directory path; with recurse, also the files of its direct
// subdirectories and those subdirectories. Links (junctions, symbolic links) are removed as
// entries and never followed. Empty or dot-relative paths are left alone.
void emptyDirectory(const std::string& dir, bool recurse);

}  // namespace pelto
