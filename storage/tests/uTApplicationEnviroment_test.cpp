#include "SettingsFixture.h"
#include "uGLBConst.h"
#include "uTApplicationEnviroment.h"

using ApplicationEnviroment = SettingsTest;

TEST_F(ApplicationEnviroment, DerivesFoldersAndFileNames)
{
    StoreString("Application", "install", "C:\\Program Files\\Tandrel Sendrake\\");
    StoreString("Application", "userpath", "D:\\Data\\Tandrel Sendrake\\");
    StoreString("Application", "update", "http://dl.example/downloads/");
    StoreDword("Application", "debug", 2);
    const TApplicationEnviroment env;
    EXPECT_EQ(env.Cache, "D:\\Data\\Tandrel Sendrake\\Cache\\");
    EXPECT_EQ(env.Open, "D:\\Data\\Tandrel Sendrake\\Open\\");
    EXPECT_EQ(env.Download, "D:\\Data\\Tandrel Sendrake\\Download\\");
    EXPECT_EQ(env.Temp, "D:\\Data\\Tandrel Sendrake\\Temp\\");
    EXPECT_EQ(env.Thumb, "D:\\Data\\Tandrel Sendrake\\Thumb\\");
    EXPECT_EQ(env.MainExe, "C:\\Program Files\\Tandrel Sendrake\\Sendrake.exe");
    EXPECT_EQ(env.MainExeShort, "C:\\Program Files\\Tandrel Sendrake\\SENDRA~1.EXE");
    EXPECT_EQ(env.ShellDll, "C:\\Program Files\\Tandrel Sendrake\\Brannock.dll");
    EXPECT_EQ(env.Update, "http://dl.example/downloads/");
    EXPECT_EQ(env.VirtualIcon, "");   // no Virtual.ico there
    EXPECT_EQ(env.Debug, 2);
    EXPECT_EQ(env.Language, 0);
}

TEST_F(ApplicationEnviroment, VirtualIconOnlyWhenTheFileExists)
{
    const std::string install = MakeTempFolder("env");
    StoreString("Application", "install", install);
    EXPECT_EQ(TApplicationEnviroment().VirtualIcon, "");
    const std::wstring icon = Utf8ToWide(install + "Virtual.ico");
    THandle(CreateFileW(icon.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(TApplicationEnviroment().VirtualIcon, install + "Virtual.ico");
    DeleteFileW(icon.c_str());
    RemoveDirectoryW(Utf8ToWide(install).c_str());
}

TEST_F(ApplicationEnviroment, SetsTheLanguageWithGermanFallback)
{
    struct Case { DWORD stored; const char* text1; };
    for (const Case& c : {Case{1, "New folder"}, Case{0, "Neuer Ordner"}, Case{7, "Neuer Ordner"},
                          Case{257, "New folder"}}) {
        StoreDword("Application", "language", c.stored);
        const TApplicationEnviroment env;
        EXPECT_EQ(env.Language, static_cast<int32_t>(c.stored));
        EXPECT_EQ(Txt(1), c.text1) << c.stored;
    }
    SetLanguage(0);
}

TEST_F(ApplicationEnviroment, WrongFormOfASettingReachesTheCaller)
{
    StoreString("Application", "debug", "3");
    EXPECT_THROW(TApplicationEnviroment(), ERegistryError);
    DeleteSettingsBranch();
    StoreDword("Application", "userpath", 1);
    EXPECT_THROW(TApplicationEnviroment(), ERegistryError);
}
