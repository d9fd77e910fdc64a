// Process-wide values the Windows option tests link against whose owners (single instance,
// extraction) are not merged here.
#include <cstdint>
#include <string>

namespace pelto {
std::string InstanceSemaphoreName;
std::uint32_t UnextractedPosition = 0;
}  // namespace pelto
