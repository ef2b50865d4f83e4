// Pure routines of the namespace: column order and numbering, column state, root parsing names,
// URL translation.
#include "SxNamespaceDetails.h"
#include "SxVirtualFolder.h"

#include <gtest/gtest.h>

namespace {

const std::string Clsid = "{8C0A61B1-4E0B-4C59-9C4B-2D6F5E0A1B22}";

TSxNamespaceColumn& AddColumn(TSxNamespaceDetails& details, const std::string& caption)
{
    auto& column = details.DesignedColumns().AddItem();
    column.Caption = caption;
    column.CodeName = caption;
    return column;
}

std::vector<std::string> EffectiveCaptions(TSxNamespaceDetails& details)
{
    std::vector<std::string> result;
    for (int32_t i = 0; i < details.Columns().Count(); ++i)
        result.push_back(details.Columns().Item(i).Caption);
    return result;
}

TEST(NamespaceDetails, CommonColumnsComeFirstAndExplorerNumbersAreDesignedIndexes)
{
    TSxNamespaceDetails details;
    AddColumn(details, "TYPE");
    AddColumn(details, "NAME");
    AddColumn(details, "EXTRA");
    details.CommonColumns.ColumnName = 1;
    details.CommonColumns.ColumnType = 0;

    EXPECT_EQ(EffectiveCaptions(details), (std::vector<std::string>{"NAME", "TYPE", "EXTRA"}));
    EXPECT_EQ(details.ColumnOrder(), (std::vector<int32_t>{1, 0, 2}));
    // Number 0 is the designed TYPE column wherever it stands in the effective set.
    ASSERT_NE(details.ColumnOfNumber(0), nullptr);
    EXPECT_EQ(details.ColumnOfNumber(0)->Caption, "TYPE");
    EXPECT_EQ(details.CommonColumnOfNumber(0), TSxCommonColumn::Type);
    EXPECT_EQ(details.CommonColumnOfNumber(1), TSxCommonColumn::Name);
    EXPECT_EQ(details.CommonColumnOfNumber(2), TSxCommonColumn::None);
    EXPECT_EQ(details.ColumnOfNumber(3), nullptr);
    EXPECT_EQ(details.ColumnOfNumber(-1), nullptr);
}

TEST(NamespaceDetails, WithoutCommonColumnsTheDesignedOrderStays)
{
    TSxNamespaceDetails details;
    AddColumn(details, "A");
    AddColumn(details, "B");
    EXPECT_EQ(EffectiveCaptions(details), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(details.CommonColumnOfNumber(0), TSxCommonColumn::None);
}

TEST(NamespaceDetails, CustomColumnsPreparedAtFirstUseJoinTheEnd)
{
    TSxNamespaceDetails details;
    AddColumn(details, "NAME");
    details.CommonColumns.ColumnName = 0;
    int prepared = 0;
    details.OnPrepareCustomColumns = [&](TSxNamespaceDetails& sender) {
        ++prepared;
        sender.Columns().Add().Caption = "CUSTOM";
    };
    EXPECT_EQ(EffectiveCaptions(details), (std::vector<std::string>{"NAME", "CUSTOM"}));
    EXPECT_EQ(details.DesignedColumns().Count(), 2);
    details.Columns();
    EXPECT_EQ(prepared, 1);
    // Later changes of the designed set do not reach the effective one.
    AddColumn(details, "LATE");
    EXPECT_EQ(details.Columns().Count(), 2);
}

TEST(NamespaceDetails, PreparingFlagIsClearedWhenTheHandlerThrows)
{
    TSxNamespaceDetails details;
    AddColumn(details, "A");
    details.OnPrepareCustomColumns = [](TSxNamespaceDetails&) { throw std::runtime_error("boom"); };
    EXPECT_THROW(details.DoPrepareCustomColumns(), std::runtime_error);
    details.OnPrepareCustomColumns = nullptr;
    EXPECT_EQ(details.Columns().Count(), 1);
}

TEST(NamespaceDetails, AbsentOrDoubledCommonIndexesKeepThePermutation)
{
    TSxNamespaceDetails details;
    AddColumn(details, "A");
    AddColumn(details, "B");
    details.CommonColumns.ColumnName = 1;
    details.CommonColumns.ColumnSize = 1;  // the same designed column twice
    details.CommonColumns.ColumnType = 7;  // no such column
    EXPECT_EQ(details.ColumnOrder(), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(details.CommonColumnOfNumber(1), TSxCommonColumn::Name);
    EXPECT_EQ(details.CommonColumnOfNumber(0), TSxCommonColumn::None);
}

TEST(NamespaceDetails, ColumnStateFlags)
{
    TSxNamespaceDetails details;
    auto& size = AddColumn(details, "SIZE");
    size.SortType = TColumnSortType::ctSortInteger;
    auto& date = AddColumn(details, "DATE");
    date.SortType = TColumnSortType::ctSortDate;
    date.ShowByDefault = false;
    date.IsSlow = true;
    date.ShowOnPopupMenu = true;
    uint32_t flags = 0;
    ASSERT_TRUE(details.GetDefaultColumnState(0, flags));
    EXPECT_EQ(flags, 0x2u | 0x10u | 0x80u);
    ASSERT_TRUE(details.GetDefaultColumnState(1, flags));
    EXPECT_EQ(flags, 0x3u | 0x20u);
    flags = 0x1234;
    EXPECT_FALSE(details.GetDefaultColumnState(0xFFFFFFFFu, flags));
    EXPECT_FALSE(details.GetDefaultColumnState(2, flags));
    EXPECT_EQ(flags, 0x1234u);
}

TEST(NamespaceDetails, DefaultColumnsFallBackToZero)
{
    TSxNamespaceDetails details;
    AddColumn(details, "A");
    AddColumn(details, "B");
    EXPECT_EQ(details.GetDefSortingColumn(), 0);
    EXPECT_EQ(details.GetDefDisplayColumn(), 0);
    details.DefSortingColumn = 1;
    details.DefDisplayColumn = 1;
    EXPECT_EQ(details.GetDefSortingColumn(), 1);
    EXPECT_EQ(details.GetDefDisplayColumn(), 1);
    details.DefSortingColumn = 2;
    details.DefDisplayColumn = 5;
    EXPECT_EQ(details.GetDefSortingColumn(), 0);
    EXPECT_EQ(details.GetDefDisplayColumn(), 0);
}

TEST(NamespaceDetails, AssignCopiesSettingsAndEventsButNotVisibleOrCodeName)
{
    TSxNamespaceColumn source;
    source.Caption = "Größe";
    source.Alignment = TAlignment::taRightJustify;
    source.Width = 15;
    source.Visible = false;
    source.CodeName = "SIZE";
    source.OnSort = [](TSxNamespaceColumn&, TSxCustomDataGrain*, TSxCustomDataGrain*, int32_t& r) { r = -1; };
    TSxNamespaceColumn copy;
    copy.Assign(source);
    EXPECT_EQ(copy.Caption, "Größe");
    EXPECT_EQ(copy.HeaderFormat(), 1);
    EXPECT_EQ(copy.Width, 15);
    EXPECT_TRUE(copy.Visible);
    EXPECT_EQ(copy.CodeName, "");
    EXPECT_EQ(copy.DoSort(nullptr, nullptr), -1);
    TSxNamespaceColumn plain;
    EXPECT_EQ(plain.DoSort(nullptr, nullptr), -2);
}

TEST(VirtualFolderNames, RootParsingNameByJunction)
{
    EXPECT_EQ(RootParsingNameOf(TSxVirtualJunctionPoint::jpMyComputer, Clsid),
              "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::" + Clsid);
    EXPECT_EQ(RootParsingNameOf(TSxVirtualJunctionPoint::jpDesktop, Clsid), "::" + Clsid);
    EXPECT_EQ(RootParsingNameOf(TSxVirtualJunctionPoint::jpControlPanel, Clsid),
              "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{21EC2020-3AEA-1069-A2DD-08002B30309D}\\::" + Clsid);
    EXPECT_EQ(JunctionKeyNameOf(TSxVirtualJunctionPoint::jpMyComputer), "MyComputer");
    EXPECT_EQ(JunctionKeyNameOf(TSxVirtualJunctionPoint::jpEntireNetwork), "NetworkNeighborhood\\EntireNetwork");
}

TEST(VirtualFolderNames, TranslateURL)
{
    const std::string root = RootParsingNameOf(TSxVirtualJunctionPoint::jpMyComputer, Clsid);
    struct Case {
        std::string url, identifier;
        bool translated;
        std::string result;
    } cases[] = {
        {"vault:Bilder\\Urlaub", "vault:", true, root + "Bilder\\Urlaub"},
        {"vault:", "vault:", true, root},
        {"vau", "vault:", false, "vau"},
        {"VAULT:x", "vault:", false, "VAULT:x"},
        {"http://vault:x", "vault:", false, "http://vault:x"},
        {"anything", "", false, "anything"},
        {"", "", false, ""},
    };
    for (const auto& c : cases) {
        std::string url = c.url;
        EXPECT_EQ(TranslateURLText(url, c.identifier, root), c.translated) << c.url;
        EXPECT_EQ(url, c.result) << c.url;
    }
}

TEST(VirtualFolderNames, PathToURL)
{
    const std::string root = RootParsingNameOf(TSxVirtualJunctionPoint::jpMyComputer, Clsid);
    EXPECT_EQ(PathToURLText(root + "\\Bilder", "vault:", root), "vault:\\Bilder");
    EXPECT_EQ(PathToURLText("C:\\x", "vault:", root), "C:\\x");
    EXPECT_EQ(PathToURLText(root + "\\Bilder", "", root), root + "\\Bilder");
}

} // namespace
