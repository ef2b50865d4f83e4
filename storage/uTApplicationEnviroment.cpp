#include "uTApplicationEnviroment.h"
#include "uGLBShellTools.h"

#include "uGLBConst.h"
#include "uGLBRegistry.h"
#include "uGLBWin.h"

TApplicationEnviroment::TApplicationEnviroment()
{
    Install = ReadRegistryString("Application", "install", "");
    UserPath = ReadRegistryString("Application", "userpath", "");
    Update = ReadRegistryString("Application", "update", "");
    Debug = ReadRegistryInteger("Application", "debug", 0);
    Language = ReadRegistryInteger("Application", "language", 0);

    // The folder settings end in "\", so the names are joined as plain text.
    Cache = UserPath + "Cache\\";
    Download = UserPath + "Download\\";
    Temp = UserPath + "Temp\\";
    Open = UserPath + "Open\\";
    Thumb = UserPath + "Thumb\\";
    MainExe = Install + "Sendrake.exe";
    MainExeShort = Install + "SENDRA~1.EXE";
    ShellDll = Install + "Brannock.dll";

    SetLanguage(Language);

    VirtualIcon.clear();
    const std::string icon = Install + "Virtual.ico";
    if (!Install.empty() && shl_FileExists(icon))
        VirtualIcon = icon;
}
