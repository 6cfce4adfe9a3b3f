// What one rescan costs the main thread: the controller's DeviceChange over the unit directory
// ($TOLVANE_UNIT_DIR, virtual units only), after a first scan has met every entry. Beside it the
// floor: listing the directory and looking at each entry, which any rescan does at least. Each
// figure is the median of COUNT runs, in microseconds of the calling thread's CPU time.
//
//   bench-rescan COUNT

#include "hid/HidDeviceController.h"

#include "rtl/MainThreadQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

double ThreadCpuMicros()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double MedianMicros(int count, const std::function<void()>& run)
{
    std::vector<double> spent;
    for (int i = 0; i < count; ++i) {
        const double before = ThreadCpuMicros();
        run();
        spent.push_back(ThreadCpuMicros() - before);
    }
    std::sort(spent.begin(), spent.end());
    return spent[spent.size() / 2];
}

std::size_t ListAndLook(const char* directory)
{
    std::size_t entries = 0;
    DIR* dir = opendir(directory);
    if (!dir)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        struct stat st {};
        entries += fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    }
    closedir(dir);
    return entries;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const char* directory = std::getenv("TOLVANE_UNIT_DIR");
    if (!directory) {
        std::fprintf(stderr, "bench-rescan: TOLVANE_UNIT_DIR is not set\n");
        return 2;
    }
    setenv("TOLVANE_DEVICE_SOURCES", "virtual", 1);

    auto& queue = rtl::TMainThreadQueue::Instance();
    queue.SetMainThread();
    hid::THidDeviceController controller(nullptr);
    // The first scan, posted by the constructor, meets every entry.
    queue.ProcessPending();

    const double rescan = MedianMicros(count, [&] { controller.DeviceChange(); });
    std::size_t entries = 0;
    const double floor = MedianMicros(count, [&] { entries = ListAndLook(directory); });
    queue.ProcessPending();
    std::printf("entries %zu\nrescan-us %.1f\nfloor-us %.1f\n", entries, rescan, floor);
    return 0;
}
