#pragma once

#include <ostream>

namespace console {

// `tolvane-cli --list`: lets the controller's first scan run from the main loop, as the
// window does, then prints one line per listed device. Returns the exit code.
int ListDevices(std::ostream& out, std::ostream& err);

} // namespace console
