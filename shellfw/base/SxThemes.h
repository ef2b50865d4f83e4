#pragma once
// Visual styles for the library's own windows inside a host that has none of its own: while a
// TSxContext lives, the activation context of the library's manifest (resource 2, common controls
// version 6) is active on the calling thread. Without such a resource it does nothing.
#ifdef _WIN32
#include <windows.h>

class TSxContext {
public:
    TSxContext();
    ~TSxContext();
    TSxContext(const TSxContext&) = delete;
    TSxContext& operator=(const TSxContext&) = delete;
    bool Active() const { return FCookie != 0; }

private:
    HANDLE FContext = INVALID_HANDLE_VALUE;
    ULONG_PTR FCookie = 0;
};
#endif
