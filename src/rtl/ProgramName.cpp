#include "ProgramName.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <cerrno>
#endif

namespace rtl {

#ifdef _WIN32
const char* ProgramName()
{
    static const std::string name = [] {
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string full(path, length < MAX_PATH ? length : 0);
        full.erase(0, full.find_last_of("\\/") + 1);
        if (full.size() > 4 && _stricmp(full.c_str() + full.size() - 4, ".exe") == 0)
            full.resize(full.size() - 4);
        return full.empty() ? std::string("tolvane") : full;
    }();
    return name.c_str();
}
#else
const char* ProgramName()
{
    return program_invocation_short_name;
}
#endif

} // namespace rtl
