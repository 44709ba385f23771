// Every disguise kind's container, one row per kind in the order of the kinds table.
#pragma once

#include "container.h"

#include <memory>

namespace strong {

// The container of a kind (0 to 15; anything else is kind 0, no disguise).
const Container &containerFor(int kind);

struct OpenedContainer {
    int kind = 0;
    std::unique_ptr<BodyReader> body;
};

// The container a file is: the first kind whose structure it has, or else kind 0, whose body
// is the whole file.
OpenedContainer openContainer(const ContainerInput &input);

namespace containers {
// Each defined in the file of its name.
Container none();
Container bmp();
Container cab();
Container jpg();
Container lzh();
Container mid();
Container png();
Container wav();
Container gca();
Container ico();
Container tgz();
Container tbz();
Container mp3();
Container cur();
Container avi();
Container zip();
} // namespace containers

} // namespace strong
