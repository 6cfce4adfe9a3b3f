#include "Sysfs.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace sim {

std::vector<std::string> DirectoryEntries(const std::string& directory)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string FirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::optional<std::string> HidrawNode(const std::string& hidDevice)
{
    for (const std::string& hidraw : DirectoryEntries(hidDevice + "/hidraw")) {
        const std::string node = "/dev/" + hidraw;
        struct stat st {};
        if (hidraw.rfind("hidraw", 0) == 0 && ::stat(node.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
            return node;
    }
    return std::nullopt;
}

} // namespace sim
