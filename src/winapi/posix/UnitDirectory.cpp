#include "UnitDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi::posix {

std::string UnitDirectoryPath()
{
    if (const char* dir = std::getenv("TOLVANE_UNIT_DIR"); dir && *dir)
        return dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/tolvane/units";
    return "/tmp/tolvane-units-" + std::to_string(getuid());
}

static bool MakeDirectories(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

static std::optional<std::string> CheckStatus(const struct stat& st)
{
    if (!S_ISDIR(st.st_mode))
        return "it is not a directory";
    if (st.st_uid != geteuid())
        return "it is not owned by this user";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return "it is writable by group or others";
    return std::nullopt;
}

std::optional<std::string> PrepareUnitDirectory(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT || !MakeDirectories(path) || stat(path.c_str(), &st) != 0)
            return "cannot create it: " + std::string(std::strerror(errno));
    }
    return CheckStatus(st);
}

std::optional<std::string> CheckUnitDirectory(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::string("it does not exist");
    return CheckStatus(st);
}

bool IsUnitSocketName(const std::string& name)
{
    const std::size_t suffix = std::strlen(UnitSocketSuffix);
    return !name.empty() && name[0] != '.' && name.size() > suffix
        && name.compare(name.size() - suffix, suffix, UnitSocketSuffix) == 0;
}

bool FillUnitAddress(const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string UnitNameOf(const std::string& socketPath)
{
    std::string name = socketPath.substr(socketPath.rfind('/') + 1);
    const std::size_t suffix = std::char_traits<char>::length(UnitSocketSuffix);
    if (name.size() > suffix && name.compare(name.size() - suffix, suffix, UnitSocketSuffix) == 0)
        name.resize(name.size() - suffix);
    return name;
}

} // namespace winapi::posix
