#include "jvm/ChosenRuntime.h"

namespace pelto {
std::string JvmHome;
std::string RuntimeVersionText;
}  // namespace pelto
