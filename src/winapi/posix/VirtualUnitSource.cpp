#include "VirtualUnitSource.h"

#include "UnitConnection.h"
#include "UnitDirectory.h"
#include "UnitRegistry.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>

namespace winapi::posix {

namespace {

using namespace std::chrono_literals;

// A real unit greets at once; this bound only keeps one that never does from holding an open.
constexpr auto OpenHelloWait = 500ms;

} // namespace

TVirtualUnitSource::TVirtualUnitSource() : FDirectory(UnitDirectoryPath())
{
    if (const auto problem = PrepareUnitDirectory(FDirectory))
        DiagnoseOnce("unit directory " + FDirectory + " is ignored: " + *problem);
    else
        FUsable = true;
}

std::vector<TDeviceRecord> TVirtualUnitSource::Enumerate() const
{
    if (!FUsable)
        return {};
    std::vector<std::string> names;
    if (DIR* dir = opendir(FDirectory.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (IsUnitSocketName(entry->d_name))
                names.emplace_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return TUnitRegistry::Instance().Scan(FDirectory, names);
}

std::shared_ptr<TDeviceFile> OpenVirtualUnit(const std::string& path, DWORD access, bool overlapped, DWORD& error)
{
    const bool readOrWrite = access & (GENERIC_READ | GENERIC_WRITE);
    TDeviceIdentity identity;
    switch (TUnitRegistry::Instance().Check(path, identity)) {
    case TUnitRegistry::TCheck::Missing: error = ErrorFromErrno(errno); return nullptr;
    case TUnitRegistry::TCheck::Dead: error = ERROR_FILE_NOT_FOUND; return nullptr;
    case TUnitRegistry::TCheck::Known: {
        // Windows refuses read or write opens of devices it reserves for itself.
        if (identity.QueryOnly && readOrWrite) {
            error = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        auto file = std::make_shared<TVirtualUnitFile>(path, identity, access, overlapped, TFd());
        // An overlapped handle connects now, so that a read handle catches the answer to a
        // command written right after. A synchronous one never reads; it connects at its
        // first write, so that identifying a unit needs no connection of its own.
        if (overlapped && readOrWrite) {
            if ((error = file->Connect()) != ERROR_SUCCESS)
                return nullptr;
        }
        return file;
    }
    case TUnitRegistry::TCheck::Unknown: break;
    }

    int err = 0;
    TFd socket = ConnectWithin(path, UnitConnectWait, err);
    if (!socket.IsOpen()) {
        error = ErrorFromErrno(err);
        return nullptr;
    }
    const THello hello = AwaitHello(socket.Get(), path, identity, OpenHelloWait);
    if (hello != THello::Greeted) {
        if (hello == THello::Waiting)
            DiagnoseOnce("unit " + path + " sent no hello");
        error = hello == THello::Waiting ? ERROR_SEM_TIMEOUT
            : hello == THello::Closed    ? ERROR_DEVICE_NOT_CONNECTED
                                         : ERROR_GEN_FAILURE;
        return nullptr;
    }
    if (identity.QueryOnly && readOrWrite) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if (!SendOpen(socket.Get(), access)) {
        error = ErrorFromErrno(errno);
        return nullptr;
    }
    return std::make_shared<TVirtualUnitFile>(path, identity, access, overlapped, std::move(socket));
}

} // namespace winapi::posix
