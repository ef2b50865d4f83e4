// Permanent modules: one live instance per class, created on first find, kept or freed with its
// last shell folder, and the unload path (OnBeforeDestroy once each, then freed).
#include "SxPmtDataModule.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

int GCreated = 0;

class TKeptModule : public TSxPermanentModule {
public:
    TKeptModule() : TSxPermanentModule("TKeptModule") { ++GCreated; }
};

class TLooseModule : public TSxPermanentModule {
public:
    TLooseModule() : TSxPermanentModule("TLooseModule") { PreventUnload = false; }
    ~TLooseModule() override { ++Freed; }
    static int Freed;
};
int TLooseModule::Freed = 0;

} // namespace

TEST(PermanentModule, FindCreatesOnceKeepsAndFrees)
{
    RegisterPermanentModuleClass("TKeptModule", [] { return std::make_unique<TKeptModule>(); });
    RegisterPermanentModuleClass("TLooseModule", [] { return std::make_unique<TLooseModule>(); });

    // Concurrent first finds make one module.
    TSxPermanentModule* found[8] = {};
    std::vector<std::thread> threads;
    for (auto& f : found)
        threads.emplace_back([&f] { f = FindPermanentModule("TKeptModule"); });
    for (auto& t : threads)
        t.join();
    ASSERT_TRUE(found[0]);
    for (auto* f : found)
        EXPECT_EQ(f, found[0]);
    EXPECT_EQ(GCreated, 1);
    EXPECT_FALSE(FindPermanentModule("tkeptmodule")) << "letter case counts";
    EXPECT_FALSE(FindPermanentModule("TUnknown"));

    // Folders: no duplicates; a module that prevents unloading stays.
    int a = 0, b = 0;
    TSxPermanentModule* kept = found[0];
    kept->AddShellFolder(&a);
    kept->AddShellFolder(&a);
    kept->AddShellFolder(&b);
    EXPECT_EQ(kept->ShellFolderCount(), 2u);
    kept->RemoveShellFolder(&b);
    kept->RemoveShellFolder(&b);
    kept->RemoveShellFolder(&a);
    EXPECT_EQ(FindPermanentModule("TKeptModule"), kept);

    // Without PreventUnload the last folder takes the module with it; a later find makes a new one.
    TSxPermanentModule* loose = FindPermanentModule("TLooseModule");
    ASSERT_TRUE(loose);
    loose->AddShellFolder(&a);
    loose->RemoveShellFolder(&a);
    EXPECT_EQ(TLooseModule::Freed, 1);
    loose = FindPermanentModule("TLooseModule");
    ASSERT_TRUE(loose);

    // Unload: every live module hears OnBeforeDestroy once, then all are freed.
    std::vector<std::string> heard;
    kept->OnBeforeDestroy = [&](TSxPermanentModule& m) { heard.push_back(m.ClassName()); };
    loose->OnBeforeDestroy = kept->OnBeforeDestroy;
    TSxPermanentModule::FireBeforeDestroyAll();
    TSxPermanentModule::FreeAll();
    EXPECT_EQ(heard, (std::vector<std::string>{"TKeptModule", "TLooseModule"}));
    EXPECT_EQ(TLooseModule::Freed, 2);
    TSxPermanentModule::FreeAll();
}
