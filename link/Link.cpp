#include "link/Link.h"

namespace hx {

int32_t baudOfChoice(int32_t choice) {
    switch (choice) {
    case 0:
        return 4800;
    case 1:
        return 9600;
    case 2:
        return 19200;
    default:
        return 0;
    }
}

} // namespace hx
