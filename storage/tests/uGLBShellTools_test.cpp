#include "SettingsFixture.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {
std::string OwnPath()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return WideToUtf8(path);
}

void WriteFileText(const std::string& name)
{
    THandle(CreateFileW(Utf8ToWide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

bool Exists(const std::string& name)
{
    return GetFileAttributesW(Utf8ToWide(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}
} // namespace

TEST(ProcessTools, ListHoldsThisProcessByFullPath)
{
    shl_GetProcessList(nullptr);   // no list: nothing happens
    std::vector<std::string> list{"kept"};
    shl_GetProcessList(&list);
    EXPECT_EQ(list.front(), "kept");
    const std::string self = OwnPath();
    bool found = false;
    for (const std::string& line : list) found = found || SameText(line, self);
    EXPECT_TRUE(found) << self;

    std::string upper = self;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(shl_IsProcessRunning(upper, true));
    EXPECT_TRUE(shl_IsProcessRunning(shl_ExtractFileName(self), false));
    EXPECT_FALSE(shl_IsProcessRunning(shl_ExtractFileName(self), true));
    EXPECT_FALSE(shl_IsProcessRunning("sx-no-such-program.exe", false));
}

TEST(ProcessTools, StartExeWaitsAndReportsTheExitCode)
{
    uint32_t code = 0;
    EXPECT_NE(shl_StartExe(OwnPath(), "--sx-exit 42", true, &code), 0u);
    EXPECT_EQ(code, 42u);

    EXPECT_EQ(shl_StartExe("C:\\sx-no-such-program.exe", "", true, &code), 0u);
    EXPECT_EQ(code, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));

    const uintptr_t h = shl_StartExe(OwnPath(), "--sx-exit 7", false, nullptr);
    ASSERT_NE(h, 0u);
    THandle process(reinterpret_cast<HANDLE>(h));
    ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 7u);
}

TEST(ShellTools, DeleteFolderRemovesTheTreeAndRefusesUnsafeNames)
{
    const std::string root = MakeTempFolder("del");
    CreateDirectoryW(Utf8ToWide(root + "sub \xC3\xA4").c_str(), nullptr);
    WriteFileText(root + "a.txt");
    WriteFileText(root + "sub \xC3\xA4\\b.txt");
    EXPECT_TRUE(shl_DeleteFolder(root));   // trailing "\" is dropped
    EXPECT_FALSE(Exists(root));
    EXPECT_FALSE(shl_DeleteFolder(root));  // gone: no success

    for (const char* unsafe : {"", "\\", "C:\\", "C:", "Cache\\", "..\\x", "C:\\windows\\*"})
        EXPECT_FALSE(shl_DeleteFolder(unsafe)) << unsafe;
    EXPECT_TRUE(Exists("C:\\windows"));
}

TEST(FileTools, ExistenceAndFoldersInUtf8Names)
{
    const std::string root = MakeTempFolder("files");
    const std::string deep = root + "Gr\xC3\xB6\xC3\x9F" "e\\Fotos 2024\\\xE6\x97\xA5\xE6\x9C\xAC\\";
    EXPECT_FALSE(shl_DirectoryExists(deep));
    shl_ForceDirectories(deep);
    EXPECT_TRUE(shl_DirectoryExists(deep));
    EXPECT_TRUE(shl_DirectoryExists(deep.substr(0, deep.size() - 1)));
    EXPECT_NO_THROW(shl_ForceDirectories(deep)) << "a folder that exists is fine";
    const std::string file = deep + "Br\xC3\xBC" "cke.txt";
    WriteFileText(file);
    EXPECT_TRUE(shl_FileExists(file));
    EXPECT_FALSE(shl_DirectoryExists(file));
    EXPECT_FALSE(shl_FileExists(deep)) << "a folder is not a file";
    EXPECT_FALSE(shl_FileExists(""));
    EXPECT_FALSE(shl_DirectoryExists(""));
    // A file in the way of a folder to be made is a clear error, not a silent success.
    EXPECT_THROW(shl_ForceDirectories(file + "\\below"), std::runtime_error);
    EXPECT_TRUE(shl_DeleteFolder(root));
}

TEST(FileTools, WaitsForFileAccess)
{
    const std::string root = MakeTempFolder("lock");
    const std::string name = root + "gesperrt \xC3\xA4.doc";
    WriteFileText(name);
    {
        THandle held(CreateFileW(Utf8ToWide(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_TRUE(shl_IsFileLocked(name));
        const ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(shl_WaitForFileAccess(name, 100));
        EXPECT_GE(GetTickCount64() - start, 50u) << "about 100 attempts 1 ms apart";
    }
    EXPECT_FALSE(shl_IsFileLocked(name));
    EXPECT_TRUE(shl_WaitForFileAccess(name, 100));
    DeleteFileW(Utf8ToWide(name).c_str());
    EXPECT_TRUE(shl_IsFileLocked(name)) << "a missing file cannot be opened either";
    EXPECT_FALSE(shl_WaitForFileAccess(name, 3));
    EXPECT_TRUE(shl_DeleteFolder(root));
}

TEST(ShellTools, WindowsVersionAndTypeNameOfAFolder)
{
    EXPECT_EQ(GetWindowsVersion(), 8);   // every NT 6 or later
    EXPECT_FALSE(shl_GetFileTypeName("C:\\windows").empty());
}

int main(int argc, char** argv)
{
    // The child that shl_StartExe starts: "X --sx-exit <code>".
    if (argc == 3 && std::strcmp(argv[1], "--sx-exit") == 0) return std::atoi(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
