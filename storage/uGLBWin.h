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
// "0x80004005".
std::string HResultText(HRESULT hr);

// Case-insensitive comparison of two texts as Windows compares file names.
bool SameText(const std::string& a, const std::string& b);

// The system folder view windows that show a folder of the shell extension carry a mark: the
// extension sets it inside Explorer, the tray program reads it from outside (a window's
// properties are seen by every process). A view window goes when its window leaves the folder.
// Marks window when it is a system folder view window.
void MarkNamespaceView(HWND window);
// Whether window or a window below it is a marked view.
bool HoldsNamespaceView(HWND window);

// Owner of one handle of a kind described by Traits: its type (Handle, whose value-initialised
// form means "none"), Valid(h) and Close(h). Closes the handle when it goes; movable, not copyable.
template <typename Traits>
class TOwnedHandle {
public:
    using Handle = typename Traits::Handle;

    TOwnedHandle() = default;
    explicit TOwnedHandle(Handle h) : h_(h) {}
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;
    TOwnedHandle(TOwnedHandle&& other) noexcept : h_(std::exchange(other.h_, Handle{})) {}
    TOwnedHandle& operator=(TOwnedHandle&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.h_, Handle{}));
        return *this;
    }
    ~TOwnedHandle() { reset(); }

    Handle get() const { return h_; }
    Handle* put() { reset(); return &h_; }   // for the calls that hand out a handle through a pointer
    Handle release() { return std::exchange(h_, Handle{}); }
    explicit operator bool() const { return Traits::Valid(h_); }
    void reset(Handle h = Handle{})
    {
        if (Traits::Valid(h_)) Traits::Close(h_);
        h_ = h;
    }

private:
    Handle h_{};
};

struct TRegKeyTraits {
    using Handle = HKEY;
    static bool Valid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};
// Owner of a registry key.
using TRegKey = TOwnedHandle<TRegKeyTraits>;

struct THandleTraits {
    using Handle = HANDLE;
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
// Owner of a kernel handle (process, thread, file, event, ...); nullptr and INVALID_HANDLE_VALUE
// both mean "none".
using THandle = TOwnedHandle<THandleTraits>;

struct TFindHandleTraits {
    using Handle = HANDLE;
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
// Owner of a FindFirstFileW search.
using TFindHandle = TOwnedHandle<TFindHandleTraits>;
#endif
