#include "SettingsFixture.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"

#include <cstdlib>
#include <cstring>

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
