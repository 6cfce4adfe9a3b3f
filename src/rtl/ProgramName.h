#pragma once

namespace rtl {

// The running program's own name, without folder or ".exe": what its messages on standard
// error begin with, whichever front end they come from.
const char* ProgramName();

} // namespace rtl
