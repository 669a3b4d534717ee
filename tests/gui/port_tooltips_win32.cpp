#include "tests/gui/port_tooltips.h"

namespace korvel::test {

// COM<n> is the device itself on Windows: nothing to add, mapped or not.
QString ExpectedPortToolTip(int) {
    return {};
}

}  // namespace korvel::test
