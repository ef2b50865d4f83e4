// Faults of the shell folder that Explorer would take for good answers or that take it down: a
// name the folder cannot give, a name form that raises, and a permanent module freed while a
// folder joins it.
#include "SxShellFolder.h"
#include "SxProvider.h"
#include "SxPmtDataModule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

// A folder whose name forms raise.
class TRaisingFolder : public TSxCustomShellFolder {
public:
    TRaisingFolder() : TSxCustomShellFolder(nullptr) {}

protected:
    bool DisplayNameOf(PCSxItemIDList, SHGDNF, std::string&) override { throw std::runtime_error("no name"); }
};

// A STRRET as Explorer's stack may leave it: claims an allocated wide string.
STRRET StaleStrRet()
{
    STRRET s;
    std::memset(&s, 0xCD, sizeof s);
    s.uType = STRRET_WSTR;
    return s;
}

} // namespace

TEST(SxShellFolderNames, ANameTheFolderCannotGiveIsAFailureWithAnEmptyName)
{
    TSxByHandProvider provider("names");
    TSxPidlPtr item(PIDLCreateItem("x", 1));
    struct {
        const char* what;
        std::unique_ptr<TSxCustomShellFolder> folder;
    } cases[] = {
        {"a folder without name forms", std::make_unique<TSxCustomShellFolder>(nullptr)},
        {"a folder whose name form raises", std::make_unique<TRaisingFolder>()},
    };
    for (auto& c : cases) {
        c.folder->SetDataProvider(&provider);
        STRRET name = StaleStrRet();
        EXPECT_TRUE(FAILED(c.folder->GetDisplayNameOf(item.get(), SHGDN_NORMAL, &name))) << c.what;
        EXPECT_EQ(name.uType, static_cast<UINT>(STRRET_CSTR)) << c.what;
        EXPECT_EQ(name.cStr[0], 0) << c.what;
    }
}

namespace {

// The next provider search of the race module waits inside the module until released.
std::atomic<bool> GBlockFind{false};
std::atomic<bool> GRaceModuleGone{false};
HANDLE GFindEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE GFindRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);

class TRaceModule : public TSxPermanentModule, public ISxProviderHolder {
public:
    TRaceModule() : TSxPermanentModule("TRaceModule")
    {
        PreventUnload = false;
        GRaceModuleGone = false;
    }
    ~TRaceModule() override { GRaceModuleGone = true; }
    TSxCustomProvider* FindProvider(const std::string&) override
    {
        if (GBlockFind.exchange(false)) {
            SetEvent(GFindEntered);
            WaitForSingleObject(GFindRelease, 10000);
            if (GRaceModuleGone)
                return nullptr;  // freed meanwhile: nothing of it may be touched
        }
        return &Provider;
    }
    TSxByHandProvider Provider{"raceProvider"};
};

} // namespace

TEST(SxShellFolderProvider, AModuleBeingJoinedIsNotFreedByItsLastFolderLeaving)
{
    RegisterPermanentModuleClass("TRaceModule", [] { return std::make_unique<TRaceModule>(); });
    auto first = std::make_unique<TSxCustomShellFolder>(nullptr);
    auto second = std::make_unique<TSxCustomShellFolder>(nullptr);
    first->SetProviderConnectivity("TRaceModule", "raceProvider");
    second->SetProviderConnectivity("TRaceModule", "raceProvider");
    ASSERT_NE(first->GetDataProvider(), nullptr);

    GBlockFind = true;
    TSxCustomProvider* joined = nullptr;
    std::thread joining([&] { joined = second->GetDataProvider(); });
    EXPECT_EQ(WaitForSingleObject(GFindEntered, 10000), WAIT_OBJECT_0);
    HANDLE leaves = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE left = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread leaving([&] {
        SetEvent(leaves);
        first.reset();
        SetEvent(left);
    });
    // The leaving folder either waits for the join or is gone without the module; it is given the
    // moments it would need to free the module, but never the join's release.
    ASSERT_EQ(WaitForSingleObject(leaves, 10000), WAIT_OBJECT_0);
    WaitForSingleObject(left, 500);
    EXPECT_FALSE(GRaceModuleGone) << "the module was freed while a folder was joining it";
    SetEvent(GFindRelease);
    joining.join();
    leaving.join();
    CloseHandle(leaves);
    CloseHandle(left);
    EXPECT_FALSE(GRaceModuleGone) << "the module was freed while a folder was joining it";
    EXPECT_NE(joined, nullptr);
    second.reset();
    EXPECT_TRUE(GRaceModuleGone) << "the last folder leaving frees the module";
}
