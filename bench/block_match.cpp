// Plans one file's update from an older local copy with the launcher's
// matcher, as a download of a described file does, and prints the time and
// what the plan reuses and fetches. With PLANS above 1, as many plans run at
// once, as the four download workers may run them, and the address space the
// process holds (reserved or committed, whatever the heap or a thread asked
// for) is sampled: the figure that runs out first in a 32-bit launcher.
// Usage: block_match.exe OLD_FILE DESCRIPTION [PLANS]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <psapi.h>

#include "launcher/core/win_handles.h"
#include "launcher/blocks/block_map.h"
#include "launcher/blocks/block_match.h"

namespace {

bool read_whole(const wchar_t* path, std::string& bytes) {
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) ||
        static_cast<uint64_t>(size.QuadPart) > (uint64_t{1} << 26))
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() || (ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got,
                                      nullptr) &&
                             got == bytes.size());
}

uint64_t little_endian(const std::string& bytes, size_t at, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Every region of the process's address space that is not free.
uint64_t address_space_in_use() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    uint64_t used = 0;
    auto* at = static_cast<char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (at < system.lpMaximumApplicationAddress &&
           VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State != MEM_FREE) used += region.RegionSize;
        at = static_cast<char*>(region.BaseAddress) + region.RegionSize;
    }
    return used;
}

double mib(uint64_t bytes) { return double(bytes) / 1048576.0; }

// PLANS plans of the same file at once, each from a description of its own
// as every download worker reads one; prints the address space before and at
// its peak, sampled every 5 ms.
int concurrent_plans(const wchar_t* old_file, const std::string& description, int plans) {
    const uint64_t before = address_space_in_use();
    std::atomic<bool> done{false};
    std::atomic<uint64_t> peak{before};
    std::thread sampler([&] {
        while (!done.load()) {
            const uint64_t now = address_space_in_use();
            if (now > peak.load()) peak = now;
            Sleep(5);
        }
    });
    std::vector<std::thread> workers;
    std::atomic<int> failed{0};
    std::atomic<int32_t> stop{0};
    for (int i = 0; i < plans; ++i)
        workers.emplace_back([&] {
            // As a worker does: the description's body goes once it is read.
            std::string bytes = description;
            BlockMap map;
            BlockPlan plan;
            std::string error;
            const bool read = read_block_map(bytes, little_endian(bytes, 16, 8),
                                             static_cast<uint32_t>(little_endian(bytes, 12, 4)),
                                             map, error);
            bytes = std::string();
            if (!read || !plan_from_local_file(old_file, map, stop, plan, error)) {
                std::printf("%s\n", error.c_str());
                ++failed;
            }
        });
    for (std::thread& worker : workers) worker.join();
    done = true;
    sampler.join();
    const uint64_t block_size = little_endian(description, 12, 4);
    const uint64_t blocks = (little_endian(description, 16, 8) + block_size - 1) / block_size;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    std::printf("plans %d blocks %llu address space before %.1f MiB peak %.1f MiB (+%.1f) "
                "peak commit %.1f MiB peak working set %.1f MiB\n",
                plans, static_cast<unsigned long long>(blocks), mib(before), mib(peak.load()),
                mib(peak.load() - before), mib(counters.PeakPagefileUsage),
                mib(counters.PeakWorkingSetSize));
    return failed.load() == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) return 2;
    std::string bytes;
    if (!read_whole(argv[2], bytes) || bytes.size() < BLOCK_MAP_HEADER_BYTES) return 1;
    BlockMap map;
    std::string error;
    if (!read_block_map(bytes, little_endian(bytes, 16, 8),
                        static_cast<uint32_t>(little_endian(bytes, 12, 4)), map, error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    if (argc == 4) {
        map = BlockMap{};
        return concurrent_plans(argv[1], bytes, _wtoi(argv[3]));
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    BlockPlan plan;
    std::atomic<int32_t> stop{0};
    if (!plan_from_local_file(argv[1], map, stop, plan, error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("plan %.3f s reused %llu fetch %llu ranges %zu copies %zu\n", seconds,
                static_cast<unsigned long long>(plan.reused_bytes),
                static_cast<unsigned long long>(plan.fetch_bytes), plan.fetches.size(),
                plan.copies.size());
    return 0;
}
