// PLACEHOLDER until the launch sequence lands: whoever builds the launch sequence replaces
// this file (keep the name, or delete it, so there is exactly one launch()).
#include "launcher/Fatal.h"
#include "launcher/Launch.h"

namespace pelto {

void launch(bool) {
  raiseFatalText(u"Internal Error: launch sequence not built");
}

}  // namespace pelto
