// Permanent modules: one live instance per class, created on first find, kept or freed with its
// last shell folder, and the unload path (OnBeforeDestroy once each, then freed).
#include "SxPmtDataModule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

int GCreated = 0;

// A module whose making takes until it is released, and that is made half once.
// A one-way signal that a thread sets and another waits for, with a limit.
class TLatch {
public:
    void Set()
    {
        std::lock_guard<std::mutex> lock(Mutex);
        IsSet = true;
        Changed.notify_all();
    }
    bool Wait(int milliseconds)
    {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return IsSet; });
    }

private:
    std::mutex Mutex;
    std::condition_variable Changed;
    bool IsSet = false;
};
TLatch GMakingEntered, GMakingRelease;
std::atomic<int> GSlowMade{0};
std::atomic<bool> GSlowSeenUnmade{false};

class TSlowModule : public TSxPermanentModule {
public:
    TSlowModule() : TSxPermanentModule("TSlowModule")
    {
        GMakingEntered.Set();
        GMakingRelease.Wait(10000);
        Ready = true;
        ++GSlowMade;
    }
    std::atomic<bool> Ready{false};
};

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

TEST(PermanentModule, WhileAModuleIsMadeOtherModulesAreJoinedAndLeftAndAskersGetItOnceMade)
{
    // Each Explorer window asks from a thread of its own; the first one makes the module.
    RegisterPermanentModuleClass("TKeptModule", [] { return std::make_unique<TKeptModule>(); });
    RegisterPermanentModuleClass("TSlowModule", [] { return std::make_unique<TSlowModule>(); });
    TSxPermanentModule* other = FindPermanentModule("TKeptModule");
    ASSERT_TRUE(other);
    TSxPermanentModule* made[3] = {};
    std::thread first([&] { made[0] = FindPermanentModule("TSlowModule"); });
    ASSERT_TRUE(GMakingEntered.Wait(5000));
    std::thread second([&] {
        made[1] = FindPermanentModule("TSlowModule");
        GSlowSeenUnmade = !static_cast<TSlowModule*>(made[1])->Ready;
    });
    // A folder of another module joins and leaves, and the live list is free, meanwhile.
    std::atomic<bool> done{false};
    int folder = 0;
    std::thread third([&] {
        other->AddShellFolder(&folder);
        other->RemoveShellFolder(&folder);
        auto live = LockPermanentModules();
        done = true;
    });
    const auto start = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(done) << "the live list was held while a module was made";
    GMakingRelease.Set();
    first.join();
    second.join();
    third.join();
    made[2] = FindPermanentModule("TSlowModule");
    ASSERT_TRUE(made[0]);
    EXPECT_EQ(made[1], made[0]);
    EXPECT_EQ(made[2], made[0]);
    EXPECT_EQ(GSlowMade, 1);
    EXPECT_FALSE(GSlowSeenUnmade) << "a half-made module was handed out";
    TSxPermanentModule::FreeAll();
}
