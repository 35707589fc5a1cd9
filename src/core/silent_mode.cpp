// The silent switch's flag.
#include "core/silent_mode.hpp"

namespace zev {

bool silentMode = false;

}  // namespace zev
