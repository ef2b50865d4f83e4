#pragma once
// The process's memory as the tests and benchmarks measure it: the one helper for it.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>

// The most memory the process held since it started. Wine keeps no peak of private bytes (it stays
// where it started), so the working set's high-water mark counts too.
inline uint64_t PeakMemoryBytes()
{
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
    return std::max<uint64_t>(c.PeakPagefileUsage, c.PeakWorkingSetSize);
}

// The memory the process holds now, of the same kinds. PeakMemoryBytes() after an operation minus
// this before it is never less than what the operation took (an earlier, higher peak only adds).
inline uint64_t MemoryBytes()
{
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
    return std::max<uint64_t>(c.PagefileUsage, c.WorkingSetSize);
}
