#pragma once
// One log file per component in the install folder. Lines: date time|WORD|text, CR LF.
#ifdef _WIN32
#include <cstdint>
#include <functional>
#include <string>

class TLogger {
public:
    // level -1 takes Application\debug. keep false deletes the existing file.
    TLogger(int32_t level, bool keep, const std::string& component);

    // type: 1 ERROR, 2 INFO, 3 DEBUG, 4 STEP. Written when type <= Level, or a STEP line when
    // Level >= 3. A STEP line, and every line at Level 4, is first shown in a message box.
    // Raises std::runtime_error when the file cannot be opened or written.
    void Log(int32_t type, const std::string& text);
    void Error(const std::string& text) { Log(1, text); }
    void Info(const std::string& text) { Log(2, text); }
    void Debug(const std::string& text) { Log(3, text); }
    void DeleteLogFile();

    int32_t Level = 0;
    std::string FileName;
};

// Seam for the message box of STEP lines / level 4: gets the composed line (without CR LF).
// The default shows the real modal box; an empty function restores it.
using TLogMessageBoxFn = std::function<void(const std::string& line)>;
void SetLogMessageBox(TLogMessageBoxFn fn);
#endif
