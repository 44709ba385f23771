// Not yet written: being built in this change.
#include "containers.h"

namespace strong::containers {

Container ico() {
    Container c;
    return c;
}

} // namespace strong::containers
