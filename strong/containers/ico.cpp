// A Windows icon of 32-bit PNG images (as Windows Vista and later keep 256x256 ones) whose
// pixels are the body.
#include "containers.h"
#include "icons.h"

namespace strong::containers {

Container ico() {
    return iconContainer(9, IconType::icon);
}

} // namespace strong::containers
