#pragma once
// Small Win32 helpers shared by every unit: UTF-8 <-> UTF-16 at the call, and owners for handles.
#ifdef _WIN32
#include <windows.h>

#include <string>
#include <utility>

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::string WideToUtf8(const wchar_t* text);   // nullptr gives the empty text

// The system's message text for an error code, without the trailing line break.
std::string SysErrorMessage(DWORD code);

// Case-insensitive comparison of two texts as Windows compares file names.
bool SameText(const std::string& a, const std::string& b);

// Owner of a registry key; closes it when it goes.
class TRegKey {
public:
    TRegKey() = default;
    explicit TRegKey(HKEY key) : key_(key) {}
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;
    TRegKey(TRegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    TRegKey& operator=(TRegKey&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.key_, nullptr));
        return *this;
    }
    ~TRegKey() { reset(); }

    HKEY get() const { return key_; }
    HKEY* put() { reset(); return &key_; }   // for RegOpenKeyExW / RegCreateKeyExW
    explicit operator bool() const { return key_ != nullptr; }
    void reset(HKEY key = nullptr)
    {
        if (key_) RegCloseKey(key_);
        key_ = key;
    }

private:
    HKEY key_ = nullptr;
};

// Owner of a kernel handle (process, thread, file, event, ...); nullptr and INVALID_HANDLE_VALUE
// both mean "none".
class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE h) : h_(h) {}
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    THandle(THandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    THandle& operator=(THandle&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.h_, nullptr));
        return *this;
    }
    ~THandle() { reset(); }

    HANDLE get() const { return h_; }
    HANDLE release() { return std::exchange(h_, nullptr); }
    explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = nullptr)
    {
        if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};
#endif
