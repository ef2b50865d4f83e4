#include "SxIconList.h"
#include "SxDataModule.h"
#include "SxTrayIcon.h"
#include "SxBaseShellObject.h"
#include "SxVirtualIconCache.h"

#include <gtest/gtest.h>

namespace {

HICON AppIcon() { return LoadIconW(nullptr, MAKEINTRESOURCEW(32512)); }

} // namespace

TEST(TSxIconList, AddsEachKeyOnce)
{
    TSxIconList list;
    int changes = 0;
    list.OnChange = [&](TSxIconList&) { ++changes; };
    const int a = list.AddIcon(AppIcon(), "a");
    EXPECT_EQ(list.AddIcon(AppIcon(), "A"), a);
    EXPECT_EQ(list.Count(), 1);
    const int e1 = list.AddIcon(AppIcon(), ""), e2 = list.AddIcon(AppIcon(), "");
    EXPECT_NE(e1, e2);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(changes, 3);
    try {
        list.AddIcon(nullptr, "x");
        FAIL();
    } catch (const ESxIconListError& e) {
        EXPECT_STREQ(e.what(), "Icon parameter is invalid");
    }
    HICON copy = list.GetIconHandle(a);
    EXPECT_TRUE(copy);
    DestroyIcon(copy);

    list.SetWidth(16);
    EXPECT_EQ(list.Width(), 32) << "the real size of the existing list";
    TSxComponent notAList;
    EXPECT_THROW(list.Assign(notAList), ESxIconListError);
    TSxIconList copyList;
    copyList.Assign(list);
    EXPECT_EQ(copyList.Count(), 3);
}

TEST(TSxIconList, AnimatesATrayIconThroughItsImages)
{
    TSxIconList list;
    for (int i = 0; i < 4; ++i)
        list.AddIcon(AppIcon(), "");
    TSxTrayIcon tray;
    list.SetTrayIcon(&tray);
    EXPECT_TRUE(tray.Icon()) << "the tray icon shows the list's image";
    int animations = 0;
    list.OnAnimate = [&](TSxIconList&) { ++animations; };
    list.SetIconIndex(3);
    list.Animate();
    EXPECT_EQ(list.IconIndex(), 0);
    EXPECT_EQ(animations, 1);
    EXPECT_FALSE(list.Animated());
    list.SetAnimated(true);
    EXPECT_TRUE(list.Animated());
    list.SetAnimated(false);
    EXPECT_FALSE(list.Animated());
    list.SetTrayIcon(nullptr);
}

TEST(TSxIconList, StoresAndLoadsTheTwoBitmapForm)
{
    TSxIconList list;
    for (int i = 0; i < 3; ++i)
        list.AddIcon(AppIcon(), "");
    TSxMemoryStream stream;
    list.SaveToStream(stream);
    EXPECT_GT(stream.GetSize(), 2u * (14 + 40) + 96u * 32 * 4);

    stream.SetPosition(0);
    TSxIconList loaded;
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.Count(), 3);
    EXPECT_EQ(stream.Remaining(), 0u);

    stream.SetPosition(0);
    TSxIconList small;
    small.SetWidth(16);
    small.SetHeight(16);
    small.LoadFromStream(stream);
    EXPECT_EQ(small.Count(), 6) << "the strip is cut at the list's width";

    TSxIconList empty;
    TSxMemoryStream emptyStream;
    empty.SaveToStream(emptyStream);
    emptyStream.SetPosition(0);
    TSxIconList fromEmpty;
    fromEmpty.LoadFromStream(emptyStream);
    EXPECT_EQ(fromEmpty.Count(), 0);

    // Cut data gives an error, never a read past the end.
    const uint64_t size = stream.GetSize();
    for (uint64_t cut : {uint64_t(0), uint64_t(10), uint64_t(60), size / 2, size - 1}) {
        TSxMemoryStream part(stream.Memory(), static_cast<size_t>(cut));
        TSxIconList target;
        EXPECT_ANY_THROW(target.LoadFromStream(part)) << cut;
    }
}

TEST(TSxIconList, ClearKeepsAnAttachedList)
{
    HIMAGELIST foreign = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    ImageList_ReplaceIcon(foreign, -1, AppIcon());
    {
        TSxIconList list;
        list.AttachHandle(foreign);
        list.Clear();
        EXPECT_EQ(list.Handle(), foreign);
        EXPECT_EQ(list.Count(), 1);
    }
    EXPECT_EQ(ImageList_GetImageCount(foreign), 1) << "not destroyed by the list";
    ImageList_Destroy(foreign);
}

TEST(TSxIconList, ProcessWideModuleLists)
{
    int large = -1, small = -1;
    HICON a = AddIconToLargeList(AppIcon(), large);
    HICON b = AddIconToSmallList(AppIcon(), small);
    EXPECT_TRUE(a && b);
    EXPECT_GE(large, 0);
    EXPECT_GE(small, 0);
    int next = -1;
    HICON c = AddIconToLargeList(AppIcon(), next);
    EXPECT_EQ(next, large + 1);
    DestroyIcon(a);
    DestroyIcon(b);
    DestroyIcon(c);
}

TEST(TSxVirtualIconCache, OneEntryPerFileClass)
{
    TSxVirtualIconCache& cache = GetVirtualIconCache();
    const size_t start = cache.Count();
    ASSERT_GE(start, 3u);
    const int unknown = cache.GetIconIndex("c:\\x\\file.sxnoclass", false, false);
    EXPECT_EQ(cache.Count(), start) << "an unregistered extension uses the no-class entry";
    EXPECT_EQ(unknown, cache.GetIconIndex("no extension", false, false));
    const int folder = cache.GetIconIndex("dir", true, false), open = cache.GetIconIndex("dir", true, true);
    EXPECT_GE(folder, 0);
    EXPECT_GE(open, 0);

    WriteClassesRootValue(".sxiconcls", "", "SxIconClass");
    WriteClassesRootValue("SxIconClass\\DefaultIcon", "", "%SystemRoot%\\system32\\shell32.dll,2");
    WriteClassesRootValue(".sxplaincls", "", "SxPlainClass");
    const int withIcon = cache.GetIconIndex("a.SXICONCLS", false, false);
    EXPECT_EQ(cache.Count(), start + 1);
    EXPECT_EQ(cache.GetIconIndex("b.sxiconcls", false, false), withIcon);
    EXPECT_EQ(cache.Count(), start + 1) << "each class is added once";
    EXPECT_EQ(cache.GetIconIndex("c.sxplaincls", false, false), unknown) << "a class without an icon gets the default";
    EXPECT_EQ(cache.Count(), start + 2);
    for (const wchar_t* key : {L".sxiconcls", L"SxIconClass", L".sxplaincls"})
        RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
}
