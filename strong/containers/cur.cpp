// A Windows cursor: an icon's layout with the cursor's type and a hot spot per image.
#include "containers.h"
#include "icons.h"

namespace strong::containers {

Container cur() {
    return iconContainer(13, IconType::cursor);
}

} // namespace strong::containers
