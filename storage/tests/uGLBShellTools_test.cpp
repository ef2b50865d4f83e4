#include "SettingsFixture.h"
#include "TestFiles.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"

#include <algorithm>
#include <cstdio>
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

namespace {
// One line per visit: "+" entering a folder, "-" leaving it, " " a file; then the relative name.
struct TWalkLog {
    std::vector<std::string> Lines;
    TShellTreeVisitor Visitor(std::function<TShellWalk(const TShellTreeEntry&)> answer = nullptr)
    {
        return [this, answer](const TShellTreeEntry& e) {
            Lines.push_back(std::string(e.Leaving ? "-" : e.Folder ? "+" : " ") + WideToUtf8(e.Relative));
            return answer ? answer(e) : TShellWalk::Continue;
        };
    }
    size_t At(const std::string& line) const
    {
        for (size_t i = 0; i < Lines.size(); ++i)
            if (Lines[i] == line) return i;
        return std::string::npos;
    }
};

void WriteBytes(const std::wstring& name, const std::string& bytes)
{
    THandle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file && !bytes.empty()) WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// root\a.txt (3 bytes), root\Ordner ä\c.txt, root\Ordner ä\d\e.txt (5 bytes), root\leer
void MakeSmallTree(const std::wstring& root)
{
    CreateDirectoryW((root + L"\\Ordner \u00e4").c_str(), nullptr);
    CreateDirectoryW((root + L"\\Ordner \u00e4\\d").c_str(), nullptr);
    CreateDirectoryW((root + L"\\leer").c_str(), nullptr);
    WriteBytes(root + L"\\a.txt", "abc");
    WriteBytes(root + L"\\Ordner \u00e4\\c.txt", "");
    WriteBytes(root + L"\\Ordner \u00e4\\d\\e.txt", "12345");
}
} // namespace

TEST(TreeWalk, EveryEntryOnceEachFolderAroundItsContents)
{
    const std::string root = MakeTempFolder("walk");
    const std::wstring wroot = Utf8ToWide(root);
    MakeSmallTree(wroot.substr(0, wroot.size() - 1));
    const std::string folder = "Ordner \xC3\xA4";
    for (const std::wstring& form : {wroot, wroot.substr(0, wroot.size() - 1)}) {   // with or without "\"
        TWalkLog log;
        uint64_t bytes = 0;
        int deepest = 0;
        EXPECT_TRUE(shl_WalkTree(form, log.Visitor([&](const TShellTreeEntry& e) {
            EXPECT_EQ(e.Path, wroot + e.Relative);
            EXPECT_EQ(e.LongPath, e.Path) << "short paths stay as they are";
            EXPECT_EQ(e.Name, e.Relative.substr(e.Relative.find_last_of(L'\\') + 1));
            EXPECT_FALSE(e.Link);
            if (!e.Folder) bytes += e.Size;
            deepest = std::max(deepest, e.Depth);
            return TShellWalk::Continue;
        })));
        ASSERT_EQ(log.Lines.size(), 9u);   // 3 files, 3 folders twice
        for (const std::string& line : {std::string(" a.txt"), " " + folder + "\\c.txt", " " + folder + "\\d\\e.txt"})
            EXPECT_NE(log.At(line), std::string::npos) << line;
        EXPECT_LT(log.At("+" + folder), log.At("+" + folder + "\\d"));
        EXPECT_LT(log.At("+" + folder + "\\d"), log.At(" " + folder + "\\d\\e.txt"));
        EXPECT_LT(log.At(" " + folder + "\\d\\e.txt"), log.At("-" + folder + "\\d"));
        EXPECT_LT(log.At("-" + folder + "\\d"), log.At("-" + folder));
        EXPECT_LT(log.At(" " + folder + "\\c.txt"), log.At("-" + folder));
        EXPECT_EQ(log.At("-leer"), log.At("+leer") + 1);
        EXPECT_EQ(bytes, 8u);
        EXPECT_EQ(deepest, 2);
    }
    EXPECT_TRUE(shl_DeleteFolder(root));
}

TEST(TreeWalk, OrdersSkipAndStop)
{
    const std::string root = MakeTempFolder("walkorder");
    const std::wstring wroot = Utf8ToWide(root);
    MakeSmallTree(wroot.substr(0, wroot.size() - 1));
    const std::string folder = "Ordner \xC3\xA4";

    TWalkLog files, folders;
    shl_WalkTree(wroot, files.Visitor(), TShellWalkOrder::FilesFirst);
    EXPECT_EQ(files.Lines.front(), " a.txt");
    EXPECT_LT(files.At(" " + folder + "\\c.txt"), files.At("+" + folder + "\\d"));
    shl_WalkTree(wroot, folders.Visitor(), TShellWalkOrder::FoldersFirst);
    EXPECT_EQ(folders.Lines.back(), " a.txt") << "the files of a folder after all of its folders";
    EXPECT_LT(folders.At("-" + folder + "\\d"), folders.At(" " + folder + "\\c.txt"));

    // Skip: the folder is reported, nothing in it and no second call.
    TWalkLog skipped;
    EXPECT_TRUE(shl_WalkTree(wroot, skipped.Visitor([&](const TShellTreeEntry& e) {
        return e.Name == L"Ordner \u00e4" ? TShellWalk::Skip : TShellWalk::Continue;
    })));
    EXPECT_EQ(skipped.Lines.size(), 4u);   // a.txt, +Ordner, +leer, -leer
    EXPECT_NE(skipped.At("+" + folder), std::string::npos);
    EXPECT_EQ(skipped.At("-" + folder), std::string::npos);
    EXPECT_EQ(skipped.At(" " + folder + "\\c.txt"), std::string::npos);

    // Stop: the walk ends at that entry, also inside a folder and on its second call.
    for (const std::string& at : {std::string(" ") + folder + "\\d\\e.txt", "-" + folder + "\\d"}) {
        TWalkLog stopped;
        EXPECT_FALSE(shl_WalkTree(wroot, stopped.Visitor([&](const TShellTreeEntry&) {
            return stopped.Lines.back() == at ? TShellWalk::Stop : TShellWalk::Continue;
        })));
        EXPECT_EQ(stopped.Lines.back(), at);
    }

    TWalkLog none;
    EXPECT_TRUE(shl_WalkTree(wroot + L"missing", none.Visitor()));
    EXPECT_TRUE(shl_WalkTree(L"", none.Visitor()));
    EXPECT_TRUE(none.Lines.empty());
    EXPECT_TRUE(shl_DeleteFolder(root));
}

TEST(TreeWalk, VisitorMayRemoveWhatItWasGiven)
{
    const std::string root = MakeTempFolder("walkremove");
    const std::wstring wroot = Utf8ToWide(root);
    MakeSmallTree(wroot.substr(0, wroot.size() - 1));
    int files = 0, folders = 0;
    EXPECT_TRUE(shl_WalkTree(wroot, [&](const TShellTreeEntry& e) {
        if (!e.Folder) files += DeleteFileW(e.LongPath.c_str()) ? 1 : 0;
        else if (e.Leaving) folders += RemoveDirectoryW(e.LongPath.c_str()) ? 1 : 0;
        return TShellWalk::Continue;
    }));
    EXPECT_EQ(files, 3);
    EXPECT_EQ(folders, 3);
    EXPECT_TRUE(shl_DirectoryExists(root));
    EXPECT_TRUE(RemoveDirectoryW(wroot.c_str())) << "the root is left empty";
}

// A linked folder may lead anywhere, also back up into the tree: it is reported as a link and
// never entered, so a walk that removes what it meets leaves the link's target whole.
TEST(TreeWalk, ALinkedFolderIsReportedAndNotEntered)
{
    const std::string root = MakeTempFolder("walklink");
    const std::wstring wroot = Utf8ToWide(root);
    CreateDirectoryW((wroot + L"Ziel").c_str(), nullptr);
    WriteBytes(wroot + L"Ziel\\bleibt.txt", "x");
    CreateDirectoryW((wroot + L"Baum").c_str(), nullptr);
    // Wine 8 answers yes and makes nothing; Windows without developer mode refuses.
    const bool made = CreateSymbolicLinkW((wroot + L"Baum\\Verweis").c_str(), (wroot + L"Ziel").c_str(),
                                          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const uint32_t attributes = shl_FileAttributes(wroot + L"Baum\\Verweis");
    if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        shl_DeleteFolder(root);
        GTEST_SKIP() << "no folder link can be made here";
    }
    TWalkLog log;
    bool linkSeen = false;
    EXPECT_TRUE(shl_WalkTree(wroot + L"Baum", log.Visitor([&](const TShellTreeEntry& e) {
        if (e.Name == L"Verweis") linkSeen = e.Link && e.Folder && !e.Leaving;
        return TShellWalk::Continue;
    })));
    EXPECT_TRUE(linkSeen);
    EXPECT_EQ(log.Lines, std::vector<std::string>{"+Verweis"}) << "reported once, nothing below it";
    EXPECT_TRUE(RemoveDirectoryW((wroot + L"Baum\\Verweis").c_str()));
    EXPECT_TRUE(shl_FileExists(root + "Ziel\\bleibt.txt"));
    EXPECT_TRUE(shl_DeleteFolder(root));
}

// A tree of 30 levels of 20 characters: its lowest file lies past 600 characters, far beyond MAX_PATH,
// under every form of its root: plain, "\\?\", the share and "\\?\UNC\".
TEST(TreeWalk, LevelsPastMaxPathUnderEveryRootForm)
{
    const std::string root = MakeTempFolder("walkdeep");
    std::wstring level = L"\\\\?\\" + Utf8ToWide(root.substr(0, root.size() - 1));
    for (int i = 0; i < 30; ++i) {
        level += L"\\Ebene " + std::to_wstring(100 + i) + L" \u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc";
        ASSERT_TRUE(CreateDirectoryW(level.c_str(), nullptr)) << i << " " << GetLastError();
    }
    WriteBytes(level + L"\\tief.txt", "tief");
    const std::wstring plainDeep = level.substr(4) + L"\\tief.txt";
    ASSERT_GT(plainDeep.size(), 600u);
    EXPECT_TRUE(shl_FileExists(WideToUtf8(plainDeep))) << "the plain form past MAX_PATH";
    EXPECT_TRUE(shl_PathExists(plainDeep));
    EXPECT_TRUE(shl_DirectoryExists(WideToUtf8(level.substr(4))));
    EXPECT_EQ(shl_LongPath(plainDeep), level + L"\\tief.txt");
    EXPECT_EQ(shl_LongPath(level.substr(4) + L"\\x\\..\\.\\tief.txt"), level + L"\\tief.txt") << "made whole";

    std::vector<std::string> roots{root, "\\\\?\\" + root};
    const std::string share = UncFormOf(root), longShare = UncFormOf(root, true);
    if (!share.empty()) {
        roots.push_back(share);
        roots.push_back(longShare);
        EXPECT_EQ(shl_LongPath(Utf8ToWide(share) + plainDeep.substr(Utf8ToWide(root).size())),
                  Utf8ToWide(longShare) + plainDeep.substr(Utf8ToWide(root).size()));
    }
    for (const std::string& form : roots) {
        int found = 0, folders = 0, leaves = 0;
        EXPECT_TRUE(shl_WalkTree(Utf8ToWide(form), [&](const TShellTreeEntry& e) {
            if (e.Leaving) ++leaves;
            else if (e.Folder) ++folders;
            else if (e.Name == L"tief.txt") {
                ++found;
                EXPECT_EQ(e.Depth, 30);
                EXPECT_EQ(e.Size, 4u);
                EXPECT_EQ(e.Path, Utf8ToWide(form) + e.Relative);
                EXPECT_TRUE(shl_FileExists(WideToUtf8(e.Path))) << "the reported path is one the tools take";
                EXPECT_EQ(ReadFileBytes(std::filesystem::path(e.LongPath)), "tief");
            }
            return TShellWalk::Continue;
        })) << form;
        EXPECT_EQ(found, 1) << form;
        EXPECT_EQ(folders, 30) << form;
        EXPECT_EQ(leaves, 30) << form;
    }
    if (share.empty()) std::printf("no share \\\\sxserver\\c: the share forms were not walked\n");
    // The walk removes it again, levels past MAX_PATH included.
    EXPECT_TRUE(shl_WalkTree(Utf8ToWide(root), [&](const TShellTreeEntry& e) {
        if (!e.Folder) {
            EXPECT_TRUE(DeleteFileW(e.LongPath.c_str()));
        } else if (e.Leaving) {
            EXPECT_TRUE(RemoveDirectoryW(e.LongPath.c_str())) << WideToUtf8(e.Relative);
        }
        return TShellWalk::Continue;
    }));
    EXPECT_FALSE(shl_PathExists(plainDeep));
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
