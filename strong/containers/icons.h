// Icons and cursors (ico, cur) made of 32-bit RGBA PNG images whose pixels are the body: the
// two kinds differ only in the directory's type and what its entries' two middle fields hold.
#pragma once

#include "container.h"

namespace strong::containers {

enum class IconType { icon = 1, cursor = 2 };
Container iconContainer(int kind, IconType type);

} // namespace strong::containers
