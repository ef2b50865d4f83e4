#include "uTLogger.h"

#include "uGLBWin.h"
#include "uTApplicationEnviroment.h"
#include "uTSeam.h"

#include <stdexcept>

namespace {
TSeam<TLogMessageBoxFn> BoxFn;   // empty: the real box

void ShowRealBox(const std::string& line)
{
    // Caption: the program's own name, as the toolkit's plain message dialog shows it.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring caption = path;
    const size_t slash = caption.find_last_of(L"\\/");
    if (slash != std::wstring::npos) caption.erase(0, slash + 1);
    const size_t dot = caption.rfind(L'.');
    if (dot != std::wstring::npos) caption.erase(dot);
    MessageBoxW(nullptr, Utf8ToWide(line).c_str(), caption.c_str(), MB_OK);
}

void ShowBox(const std::string& line)
{
    const TLogMessageBoxFn fn = BoxFn.Get();
    if (fn)
        fn(line);
    else
        ShowRealBox(line);
}

const char* TypeWord(int32_t type)
{
    switch (type) {
    case 1: return "ERROR";
    case 2: return "INFO";
    case 3: return "DEBUG";
    case 4: return "STEP";
    default: return nullptr;
    }
}

// Short date, a blank and long time in the user's settings.
std::string NowText()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[128] = {}, time[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 128);
    return WideToUtf8(date) + " " + WideToUtf8(time);
}

[[noreturn]] void FileFailure(const char* what, const std::string& file, DWORD code)
{
    throw std::runtime_error(std::string(what) + " " + file + ": " + SysErrorMessage(code));
}
} // namespace

void SetLogMessageBox(TLogMessageBoxFn fn)
{
    BoxFn.Set(std::move(fn));
}

TLogger::TLogger(int32_t level, bool keep, const std::string& component)
{
    const TApplicationEnviroment env;
    Level = level == -1 ? env.Debug : level;
    // Install ends in "\"; the doubled separator is harmless.
    FileName = env.Install + "\\" + component + ".log";
    if (!keep) DeleteLogFile();
}

void TLogger::Log(int32_t type, const std::string& text)
{
    if (!(type <= Level || (type >= 4 && Level >= 3))) return;
    const char* word = TypeWord(type);
    if (!word) return;

    const std::string line = NowText() + "|" + word + "|" + text;
    if (Level == 4 || type == 4) ShowBox(line);

    // Opened for each line and closed again, so other loggers (also in the other deliverable) can
    // share the file; appends from several writers do not overwrite each other.
    THandle file(CreateFileW(Utf8ToWide(FileName).c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) FileFailure("Cannot open the log file", FileName, GetLastError());
    const std::string data = line + "\r\n";
    DWORD written = 0;
    if (!WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
        written != data.size())
        FileFailure("Cannot write the log file", FileName, GetLastError());
    FlushFileBuffers(file.get());
}

void TLogger::DeleteLogFile()
{
    DeleteFileW(Utf8ToWide(FileName).c_str());
}
