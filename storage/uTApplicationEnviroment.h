#pragma once
// The folders and file names of both deliverables, read fresh from the "Application" settings.
#ifdef _WIN32
#include <cstdint>
#include <string>

class TApplicationEnviroment {
public:
    // Reads install, userpath, update, debug and language; raises ERegistryError for a value
    // stored in the wrong form. Sets the process-wide language.
    TApplicationEnviroment();

    std::string Install;       // program folder, ends in "\"
    std::string Cache;         // UserPath + "Cache\"
    std::string Download;      // UserPath + "Download\"
    std::string Update;        // download address of new versions
    std::string Open;          // UserPath + "Open\"
    std::string Thumb;         // UserPath + "Thumb\"
    std::string Temp;          // UserPath + "Temp\"
    std::string UserPath;      // ends in "\"
    std::string MainExe;       // Install + "Sendrake.exe"
    std::string MainExeShort;  // Install + "SENDRA~1.EXE"
    std::string ShellDll;      // Install + "Brannock.dll"
    std::string VirtualIcon;   // Install + "Virtual.ico" when it exists, else empty
    int32_t Debug = 0;         // log level
    int32_t Language = 0;      // 0 German, 1 English
};
#endif
