// Faults of the shell folder that Explorer would take for good answers: a name the folder cannot
// give, and a name form that raises.
#include "SxShellFolder.h"
#include "uTSxCustomProvider.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

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
