// A small in-process server built from the framework, driven by the COM tests: one module class
// per thread with a shell-extension class, a persist-file class and an exception controller, and
// one thread-free module class.
#include "uGLBWin.h"
#include "SxTools.h"
#include "SxComObjectFactory.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace {

SX_DECLARE_EXCEPTION(ESxTestError, std::runtime_error);

std::mutex ReportLock;
std::string LastReport;
std::atomic<int> ModulesAlive{0}, ReleaseOffers{0};
std::atomic<bool> KeepFreeModules{false}, FailRegistration{false};

class TTestExt : public TSxShellExtInit {
public:
    explicit TTestExt(TSxComponent* owner) : TSxShellExtInit(owner)
    {
        SetCLSID("{9A3C5E10-6D1B-4F27-8C44-2B1E7A0D5F31}");
        SetFileType("SxTestFileType");
        // Initialize with nothing selected is this class's failing COM method.
        OnShellExtInit = [](TSxShellExtInit&, const std::string& fileName) {
            if (fileName.empty())
                throw ESxTestError("nothing selected");
        };
    }
    std::string ClassName() const override { return "TTestExt"; }
    void RegisterFileType(const std::string& fileType, bool doRegister) override
    {
        RegisterShellExtHandler(*this, fileType, "ContextMenuHandlers", doRegister);
        TSxShellExtInit::RegisterFileType(fileType, doRegister);
    }
};

class TTestPersist : public TSxPersistFile {
public:
    explicit TTestPersist(TSxComponent* owner) : TSxPersistFile(owner)
    {
        SetCLSID("{9A3C5E11-6D1B-4F27-8C44-2B1E7A0D5F31}");
        OnInitialize = [](TSxPersistFile& sender) {
            if (sender.GetFileName() == "fail")
                throw std::runtime_error("cannot load");
        };
    }
    std::string ClassName() const override { return "TTestPersist"; }
};

class TTestModule : public TSxModule {
public:
    explicit TTestModule(const TSxModuleClass& moduleClass) : TSxModule(moduleClass)
    {
        ++ModulesAlive;
        SetName("modTest");
        auto& controller = Add<TSxExceptionController>("sxController");
        // The controller keeps what it saw and hands back its own code.
        controller.OnException = [](TSxExceptionController&, TSxCustomExceptionInfo& info, bool& autoReport) {
            std::lock_guard<std::mutex> guard(ReportLock);
            LastReport = info.ExceptionClass() + "|" + info.ExceptionMessage() + "|" + info.GetExtendedInfo();
            info.ErrorCode = static_cast<int32_t>(0x80041234u);
            autoReport = false;
        };
        Add<TTestExt>("sxTestExt");
        Add<TTestPersist>("sxTestPersist");
    }
    ~TTestModule() override { --ModulesAlive; }
};

class TTestFreeModule : public TSxModule {
public:
    explicit TTestFreeModule(const TSxModuleClass& moduleClass) : TSxModule(moduleClass)
    {
        ++ModulesAlive;
        SetThreadFree(true);
        auto& ext = Add<TTestExt>("sxFreeExt");
        ext.SetCLSID("{9A3C5E12-6D1B-4F27-8C44-2B1E7A0D5F31}");
        ext.OnTryToReleaseModule = [](bool& allow) {
            ++ReleaseOffers;
            allow = !KeepFreeModules;
        };
        ext.BeforeUpdateRegistry = [](TSxBaseShellObject&, bool) {
            if (FailRegistration)
                throw std::runtime_error("registry refused");
        };
    }
    ~TTestFreeModule() override { --ModulesAlive; }
};

const TSxModuleClass TestModule{"TTestModule", [] { return std::make_unique<TTestModule>(TestModule); }};
const TSxModuleClass TestFreeModule{"TTestFreeModule", [] { return std::make_unique<TTestFreeModule>(TestFreeModule); }};

} // namespace

void SxTestDllSetup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SxSetServerName("SxTestServer");
        RegisterModuleFactories(TestModule);
        RegisterModuleFactories(TestFreeModule);
    });
}

extern "C" {

// The last report the controller saw: class|message|extended details.
__declspec(dllexport) int SxTestLastReport(char* buffer, int size)
{
    std::lock_guard<std::mutex> guard(ReportLock);
    if (buffer && size > 0)
        lstrcpynA(buffer, LastReport.c_str(), size);
    return static_cast<int>(LastReport.size());
}

// Test switches: thread-free modules refuse to be freed; registration of the free class fails.
__declspec(dllexport) void SxTestSwitches(int keepFreeModules, int failRegistration)
{
    KeepFreeModules = keepFreeModules != 0;
    FailRegistration = failRegistration != 0;
}

// Modules alive, per-thread modules registered, release offers of thread-free modules.
__declspec(dllexport) void SxTestModuleCounts(int* alive, int* registered, int* offers)
{
    *alive = ModulesAlive;
    *registered = static_cast<int>(ThreadModuleCount());
    *offers = ReleaseOffers;
}
}
