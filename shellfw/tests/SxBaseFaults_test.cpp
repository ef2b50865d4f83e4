// Faults of the framework core that would take Explorer down or mislead it: the unload answer while
// objects are being made or released, damaged drop and bitmap data, and an icon that the image
// list refused.
#include "SxTools.h"
#include "SxBaseShellObject.h"
#include "SxFakeDataObject.h"
#include "SxComObjectFactory.h"
#include "SxIconList.h"
#include "SxStream.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <map>
#include <thread>

using Microsoft::WRL::ComPtr;

namespace {

const CLSID BlockClsid = {0x5D0E7B21, 0x3A44, 0x4C19, {0x9E, 0x02, 0x71, 0xB8, 0x2C, 0x55, 0x0A, 0x61}};
const CLSID FreeClsid = {0x5D0E7B22, 0x3A44, 0x4C19, {0x9E, 0x02, 0x71, 0xB8, 0x2C, 0x55, 0x0A, 0x61}};

// The next module made blocks in its constructor until released (the test's hold on a factory).
std::atomic<bool> BlockNextModule{false};
HANDLE ModuleEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE ModuleRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
// What the unload check answered while a thread-free module was being let go.
std::atomic<HRESULT> AnswerWhileReleasing{E_UNEXPECTED};
std::atomic<bool> RefuseRelease{false};

class TBlockModule : public TSxModule {
public:
    explicit TBlockModule(const TSxModuleClass& moduleClass) : TSxModule(moduleClass)
    {
        Add<TSxShellExtInit>("sxBlockExt").SetCLSID("{5D0E7B21-3A44-4C19-9E02-71B82C550A61}");
        if (BlockNextModule.exchange(false)) {
            SetEvent(ModuleEntered);
            WaitForSingleObject(ModuleRelease, 10000);
        }
    }
};

class TFreeModule : public TSxModule {
public:
    explicit TFreeModule(const TSxModuleClass& moduleClass) : TSxModule(moduleClass)
    {
        SetThreadFree(true);
        auto& ext = Add<TSxShellExtInit>("sxFreeExt");
        ext.SetCLSID("{5D0E7B22-3A44-4C19-9E02-71B82C550A61}");
        ext.OnTryToReleaseModule = [](bool&) {
            AnswerWhileReleasing = SxDllCanUnloadNow();
            if (RefuseRelease)
                throw std::runtime_error("the product's handler failed");
        };
    }
};

const TSxModuleClass BlockModule{"TBlockModule", [] { return std::make_unique<TBlockModule>(BlockModule); }};
const TSxModuleClass FreeModule{"TFreeModule", [] { return std::make_unique<TFreeModule>(FreeModule); }};

ComPtr<IClassFactory> Factory(const CLSID& clsid)
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterModuleFactories(BlockModule);
        RegisterModuleFactories(FreeModule);
    });
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(SxDllGetClassObject(clsid, IID_PPV_ARGS(&factory)), S_OK);
    return factory;
}

} // namespace

TEST(SxUnloadCheck, CountsAnObjectBeingMadeOnAnotherThreadWithoutWaitingForIt)
{
    ComPtr<IClassFactory> factory = Factory(BlockClsid);
    ASSERT_TRUE(factory);
    ASSERT_EQ(SxDllCanUnloadNow(), S_OK);
    BlockNextModule = true;
    ComPtr<IUnknown> object;
    std::thread maker([&] { factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)); });
    ASSERT_EQ(WaitForSingleObject(ModuleEntered, 10000), WAIT_OBJECT_0);
    // The object on its way keeps the library at once: the check does not wait for its module,
    // which the factory makes without its lock (every window's thread needs the lock). The answer
    // comes while the factory is still held.
    std::atomic<HRESULT> answer{E_UNEXPECTED};
    HANDLE answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread checker([&] {
        answer = SxDllCanUnloadNow();
        SetEvent(answered);
    });
    EXPECT_EQ(WaitForSingleObject(answered, 10000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the check waited for the factory";
    const HRESULT early = answer;
    SetEvent(ModuleRelease);
    maker.join();
    checker.join();
    CloseHandle(answered);
    ASSERT_TRUE(object);
    EXPECT_EQ(early, S_FALSE) << "the library looked unloadable while a factory was making an object";
    EXPECT_EQ(answer, S_FALSE) << "the object made meanwhile keeps the library";
    object.Reset();
    EXPECT_EQ(SxDllCanUnloadNow(), S_OK);
    factory.Reset();
}

TEST(SxUnloadCheck, StaysBusyWhileTheLastReleaseFreesItsModule)
{
    ComPtr<IClassFactory> factory = Factory(FreeClsid);
    ASSERT_TRUE(factory);
    ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)), S_OK);
    EXPECT_EQ(object.Reset(), 0u);
    EXPECT_EQ(AnswerWhileReleasing, S_FALSE) << "the library's code still runs for that object";
    EXPECT_EQ(SxDllCanUnloadNow(), S_OK);

    // A release handler that raises stays inside the library, and the object is counted off.
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)), S_OK);
    RefuseRelease = true;
    ULONG left = 1;
    EXPECT_NO_THROW(left = object.Reset());
    RefuseRelease = false;
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(SxDllCanUnloadNow(), S_OK);
    factory.Reset();
}

namespace {

// A DROPFILES header with the given file-list offset, followed by raw list bytes.
std::vector<uint8_t> DropBlock(DWORD filesAt, BOOL wide, const std::vector<uint8_t>& list)
{
    DROPFILES header = {};
    header.pFiles = filesAt;
    header.fWide = wide;
    std::vector<uint8_t> block(sizeof header + list.size());
    std::memcpy(block.data(), &header, sizeof header);
    if (!list.empty())
        std::memcpy(block.data() + sizeof header, list.data(), list.size());
    return block;
}

std::vector<uint8_t> WideBytes(const std::wstring& text)
{
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    return std::vector<uint8_t>(p, p + text.size() * 2);
}

} // namespace

TEST(SxShellExtInit, DamagedDropDataIsNoSelection)
{
    TSxShellExtInit ext(nullptr);
    TSxPidlPtr parent(PIDLCreateItem("parent", 6)), item(PIDLCreateItem("a", 1));
    // A valid "Shell IDList Array" beside the damaged drop block: it must be the one taken.
    std::vector<uint8_t> ids(12);
    const uint32_t count = 1, parentAt = 12, itemAt = 12 + PIDLGetSize(parent.get()) + 2;
    std::memcpy(ids.data(), &count, 4);
    std::memcpy(ids.data() + 4, &parentAt, 4);
    std::memcpy(ids.data() + 8, &itemAt, 4);
    for (PCSxItemIDList list : {static_cast<PCSxItemIDList>(parent.get()), static_cast<PCSxItemIDList>(item.get())}) {
        const auto* p = reinterpret_cast<const uint8_t*>(list);
        ids.insert(ids.end(), p, p + PIDLGetSize(list) + 2);
    }
    const struct {
        const char* what;
        std::vector<uint8_t> block;
    } damaged[] = {
        {"list offset far beyond the block", DropBlock(0x7FFFFFF0, TRUE, WideBytes(std::wstring(L"C:\\a.txt\0\0", 10)))},
        {"list offset at the end", DropBlock(sizeof(DROPFILES) + 2, TRUE, {0, 0})},
        {"wide names without the closing empty name", DropBlock(sizeof(DROPFILES), TRUE, WideBytes(L"C:\\a.txt"))},
        {"ANSI names without the closing empty name", DropBlock(sizeof(DROPFILES), FALSE, {'C', ':', '\\', 'a', 0})},
        {"header cut short", {20, 0, 0, 0, 0, 0}},
    };
    for (const auto& d : damaged) {
        TFakeDataObject data;
        data.Blocks[CF_HDROP] = d.block;
        data.Blocks[static_cast<CLIPFORMAT>(CF_SXSHELLIDLIST)] = ids;
        ext.ItemIDLists.clear();
        EXPECT_EQ(ext.Initialize(nullptr, &data, nullptr), S_OK) << d.what;
        EXPECT_EQ(ext.ItemIDLists.size(), 1u) << d.what << ": the ID-list array is used instead";
        EXPECT_EQ(ext.FileNames, std::vector<std::string>{""}) << d.what;
    }
    // A sound ANSI block still gives its names.
    TFakeDataObject data;
    data.Blocks[CF_HDROP] = DropBlock(sizeof(DROPFILES), FALSE, {'C', ':', '\\', 'a', 0, 'b', 0, 0});
    ext.ItemIDLists.clear();
    EXPECT_EQ(ext.Initialize(nullptr, &data, nullptr), S_OK);
    EXPECT_EQ(ext.FileNames, (std::vector<std::string>{"C:\\a", "b"}));
    EXPECT_TRUE(ext.ItemIDLists.empty());
}

TEST(TSxIconList, AnIconTheListRefusedIsRefusedAgain)
{
    TSxIconList list;
    HICON bogus = reinterpret_cast<HICON>(static_cast<uintptr_t>(0x7770));
    EXPECT_THROW(list.AddIcon(bogus, "broken"), ESxIconListError);
    try {
        const int index = list.AddIcon(bogus, "broken");
        ADD_FAILURE() << "the second try answered index " << index;
    } catch (const ESxIconListError& e) {
        EXPECT_STREQ(e.what(), "Unable to add icon to Image List");
    }
    HICON good = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
    EXPECT_EQ(list.AddIcon(good, "broken"), 0) << "the key is free for a good icon";
    EXPECT_EQ(list.Count(), 1);
}

TEST(TSxIconList, ABitmapClaimingAColourTableItDoesNotHoldIsRefused)
{
    TSxIconList source;
    source.AddIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512)), "");
    TSxMemoryStream stored;
    source.SaveToStream(stored);
    for (const uint32_t colorsUsed : {0u, 256u}) {
        // The image strip's header (32 bits per pixel, data right after it) claims colorsUsed
        // table entries.
        std::vector<uint8_t> bytes = stored.Bytes();
        std::memcpy(bytes.data() + 14 + 32, &colorsUsed, 4);
        TSxMemoryStream stream(std::move(bytes));
        TSxIconList list;
        if (colorsUsed == 0) {
            list.LoadFromStream(stream);
            EXPECT_EQ(list.Count(), 1);
        } else {
            EXPECT_THROW(list.LoadFromStream(stream), ESxIconListError);
        }
    }
}
