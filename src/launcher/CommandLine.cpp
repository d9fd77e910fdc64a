#include "launcher/CommandLine.h"

namespace pelto {

std::u16string ServiceName;
bool ServiceMode = false;
bool NoRedirect = false;
std::vector<std::u16string> ArgumentVector;

}  // namespace pelto
