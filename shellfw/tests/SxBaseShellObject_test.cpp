// The shell object bases used directly: names, identity, and the selection that
// IShellExtInit::Initialize takes from a data object.
#include "uGLBWin.h"
#include "SxTools.h"
#include "SxBaseShellObject.h"
#include "SxFakeDataObject.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <map>

namespace {

std::vector<uint8_t> DropBlock(const std::vector<std::wstring>& names)
{
    std::vector<uint8_t> block(sizeof(DROPFILES));
    auto* header = reinterpret_cast<DROPFILES*>(block.data());
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    for (const auto& name : names) {
        const auto* p = reinterpret_cast<const uint8_t*>(name.c_str());
        block.insert(block.end(), p, p + (name.size() + 1) * 2);
    }
    block.insert(block.end(), names.empty() ? 4 : 2, 0); // the list ends with an empty name
    return block;
}

// A CIDA: count, offsets, then the parent list and the item lists.
std::vector<uint8_t> IdListBlock(PCSxItemIDList parent, const std::vector<PCSxItemIDList>& items)
{
    std::vector<PCSxItemIDList> all{parent};
    all.insert(all.end(), items.begin(), items.end());
    std::vector<uint8_t> block(4 + 4 * all.size());
    const uint32_t count = static_cast<uint32_t>(items.size());
    std::memcpy(block.data(), &count, 4);
    for (size_t i = 0; i < all.size(); ++i) {
        const uint32_t offset = static_cast<uint32_t>(block.size());
        std::memcpy(block.data() + 4 + 4 * i, &offset, 4);
        const auto* p = reinterpret_cast<const uint8_t*>(all[i]);
        block.insert(block.end(), p, p + PIDLGetSize(all[i]) + 2);
    }
    return block;
}

struct TFixture : ::testing::Test {
    TSxShellExtInit ext{nullptr};
    std::vector<std::string> fired;
    void SetUp() override
    {
        CoInitialize(nullptr);
        ext.OnShellExtInit = [this](TSxShellExtInit&, const std::string& name) { fired.push_back(name); };
    }
    void TearDown() override { CoUninitialize(); }
};

} // namespace

TEST_F(TFixture, RenamingCarriesDescriptionAlongUntilItIsSetByHand)
{
    ext.SetName("sxMenu");
    EXPECT_EQ(ext.Description(), "sxMenu");
    EXPECT_EQ(ext.ExtensionName(), "sxMenu");
    ext.SetName("sxUpload");
    EXPECT_EQ(ext.Description(), "sxUpload");
    ext.SetDescription("Upload to the online folder");
    ext.SetName("sxSend");
    EXPECT_EQ(ext.Description(), "Upload to the online folder");
    EXPECT_EQ(ext.ExtensionName(), "sxSend");

    ext.SetCLSID("{9a3c5e10-6d1b-4f27-8c44-2b1e7a0d5f31}");
    EXPECT_EQ(ext.GetCLSID(), "{9A3C5E10-6D1B-4F27-8C44-2B1E7A0D5F31}");
    EXPECT_THROW(ext.SetCLSID("not a guid"), EOleSysError);
}

TEST_F(TFixture, InitializeTakesHdropNamesFirst)
{
    TFakeDataObject data;
    data.Blocks[CF_HDROP] = DropBlock({L"C:\\a.txt", L"C:\\\u00e4 b.txt"});
    TSxPidlPtr item(PIDLCreateItem("x", 1));
    data.Blocks[static_cast<CLIPFORMAT>(CF_SXSHELLIDLIST)] = IdListBlock(item.get(), {item.get()});
    EXPECT_EQ(ext.Initialize(nullptr, &data, nullptr), S_OK);
    EXPECT_EQ(ext.FileNames, (std::vector<std::string>{"C:\\a.txt", "C:\\\xc3\xa4 b.txt"}));
    EXPECT_TRUE(ext.ItemIDLists.empty());
    EXPECT_EQ(fired, std::vector<std::string>{"C:\\a.txt"});
}

TEST_F(TFixture, InitializeFallsBackToTheIdListArray)
{
    TFakeDataObject data;
    data.Blocks[CF_HDROP] = DropBlock({}); // no files
    TSxPidlPtr parent(PIDLCreateItem("parent", 6)), a(PIDLCreateItem("a", 1)), b(PIDLCreateItem("bb", 2));
    data.Blocks[static_cast<CLIPFORMAT>(CF_SXSHELLIDLIST)] = IdListBlock(parent.get(), {a.get(), b.get()});
    EXPECT_EQ(ext.Initialize(nullptr, &data, nullptr), S_OK);
    ASSERT_EQ(ext.ItemIDLists.size(), 2u);
    EXPECT_EQ(PIDLGetItemCount(ext.ItemIDLists[1].get()), 2);
    EXPECT_EQ(PIDLGetSize(ext.ItemIDLists[1].get()), 8u + 4u);
    // Virtual items have no file-system path: one empty name each.
    EXPECT_EQ(ext.FileNames, (std::vector<std::string>{"", ""}));
}

TEST_F(TFixture, InitializeWithoutDataOrWithDamagedData)
{
    EXPECT_EQ(ext.Initialize(nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(fired, std::vector<std::string>{""});

    TFakeDataObject none;
    EXPECT_EQ(ext.Initialize(nullptr, &none, nullptr), DV_E_FORMATETC) << "the ID-list request's failure";

    TSxPidlPtr item(PIDLCreateItem("abc", 3));
    std::vector<uint8_t> good = IdListBlock(item.get(), {item.get()});
    const struct {
        const char* what;
        std::vector<uint8_t> block;
    } damaged[] = {
        {"cut count", {1, 0}},
        {"count beyond the block", {0xFF, 0xFF, 0, 0, 12, 0, 0, 0}},
        {"offset beyond the block", {1, 0, 0, 0, 12, 0, 0, 0, 0xF0, 0, 0, 0, 0, 0}},
        {"list cut", std::vector<uint8_t>(good.begin(), good.end() - 3)},
    };
    for (const auto& d : damaged) {
        TFakeDataObject data;
        data.Blocks[static_cast<CLIPFORMAT>(CF_SXSHELLIDLIST)] = d.block;
        EXPECT_EQ(ext.Initialize(nullptr, &data, nullptr), E_FAIL) << d.what;
    }
}

TEST_F(TFixture, PersistFileLoadsOneName)
{
    TSxPersistFile persist(nullptr);
    int initialized = 0;
    persist.OnInitialize = [&](TSxPersistFile&) { ++initialized; };
    EXPECT_EQ(persist.Load(L"C:\\x.lnk", STGM_READ), S_OK);
    EXPECT_EQ(persist.FileNames, std::vector<std::string>{"C:\\x.lnk"});
    EXPECT_EQ(persist.Mode, static_cast<DWORD>(STGM_READ));
    EXPECT_EQ(initialized, 1);
    persist.OverwriteExistent = true;
    EXPECT_TRUE(persist.CanOverwriteKey(GUID{}));
    persist.OnKeyAlreadyExist = [](const GUID&, bool& overwrite) { overwrite = false; };
    EXPECT_FALSE(persist.CanOverwriteKey(GUID{}));
}
