// PLACEHOLDER until the launch sequence lands: the real LaunchWin.cpp replaces this file.
#include "launcher/Fatal.h"
#include "launcher/Launch.h"

namespace pelto {

std::vector<std::u16string> LaunchArguments;

void launch(bool) {
  raiseFatalText(u"Internal Error: launch sequence not built");
}

}  // namespace pelto
