#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace console {

// `tolvane-cli --list`: lets the controller's first scan run from the main loop, as the
// window does, then prints one line per listed device (of those --device names, if any):
// tab-separated columns, or with json one JSON object. Returns the exit code.
int ListDevices(std::ostream& out, std::ostream& err, bool json, const std::vector<std::string>& devices);

} // namespace console
