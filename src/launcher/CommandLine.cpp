#include "launcher/CommandLine.h"

namespace pelto {

std::u16string ServiceName;
bool ServiceMode = false;
bool NoRedirect = false;

}  // namespace pelto
