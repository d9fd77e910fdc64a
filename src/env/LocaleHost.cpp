// Off Windows there is no user language identifier; US English stands in.
#include "env/Locale.h"

namespace pelto {
std::string detectLocale() {
  return localeNameForLanguageId(0x0409);
}
}  // namespace pelto
