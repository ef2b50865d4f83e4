// Drives the test server DLL the way the shell and regsvr32 do: registration keys, class
// factories, interfaces, reference counts, modules and exception conversion.
#include "SxTestSupport.h"
#include "uGLBWin.h"
#include "SxBaseShellObject.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <thread>

namespace {

const CLSID ExtClsid = {0x9A3C5E10, 0x6D1B, 0x4F27, {0x8C, 0x44, 0x2B, 0x1E, 0x7A, 0x0D, 0x5F, 0x31}};
const CLSID PersistClsid = {0x9A3C5E11, 0x6D1B, 0x4F27, {0x8C, 0x44, 0x2B, 0x1E, 0x7A, 0x0D, 0x5F, 0x31}};
const CLSID FreeClsid = {0x9A3C5E12, 0x6D1B, 0x4F27, {0x8C, 0x44, 0x2B, 0x1E, 0x7A, 0x0D, 0x5F, 0x31}};
const char ExtKey[] = "CLSID\\{9A3C5E10-6D1B-4F27-8C44-2B1E7A0D5F31}";
const char ApprovedKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

std::wstring ServerPath() { return PathBesideProgram(L"SxTestServer.dll"); }

template <typename T> T Entry(HMODULE library, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void DeleteTree(const std::string& key) { RegDeleteTreeW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str()); }

} // namespace

TEST(SxComServer, Regsvr32WritesExactlyTheKeysAndUnregisterRemovesOnlyThem)
{
    // A file-type key with a value of its own existed before and must survive.
    DeleteTree("SxTestFileType");
    WriteClassesRootValue("SxTestFileType", "", "a file type of someone else");
    const std::wstring dll = ServerPath();
    std::wstring shortDll(MAX_PATH, L'\0');
    shortDll.resize(GetShortPathNameW(dll.c_str(), shortDll.data(), MAX_PATH));

    ASSERT_EQ(RunProcess(L"regsvr32.exe /s \"" + dll + L"\""), 0u);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, ExtKey), "sxTestExt");
    const std::string inproc = Value(HKEY_CLASSES_ROOT, std::string(ExtKey) + "\\InprocServer32");
    EXPECT_TRUE(SameText(inproc, WideToUtf8(dll)) || SameText(inproc, WideToUtf8(shortDll))) << inproc;
    EXPECT_EQ(inproc.find(' '), std::string::npos) << "a path with blanks is written in its short form";
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, std::string(ExtKey) + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, std::string(ExtKey) + "\\ProgID"), "SxTestServer.sxTestExt");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxTestServer.sxTestExt"), "sxTestExt");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxTestServer.sxTestExt\\Clsid"), "{9A3C5E10-6D1B-4F27-8C44-2B1E7A0D5F31}");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxTestFileType\\shellex\\ContextMenuHandlers\\sxTestExt"),
              "{9A3C5E10-6D1B-4F27-8C44-2B1E7A0D5F31}");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ApprovedKey, "{9A3C5E10-6D1B-4F27-8C44-2B1E7A0D5F31}"), "sxTestExt");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "CLSID\\{9A3C5E11-6D1B-4F27-8C44-2B1E7A0D5F31}\\ProgID"),
              "SxTestServer.sxTestPersist");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "CLSID\\{9A3C5E12-6D1B-4F27-8C44-2B1E7A0D5F31}\\ProgID"),
              "SxTestServer.sxFreeExt");

    ASSERT_EQ(RunProcess(L"regsvr32.exe /s /u \"" + dll + L"\""), 0u);
    for (const char* key : {ExtKey, "CLSID\\{9A3C5E11-6D1B-4F27-8C44-2B1E7A0D5F31}",
                            "CLSID\\{9A3C5E12-6D1B-4F27-8C44-2B1E7A0D5F31}", "SxTestServer.sxTestExt",
                            "SxTestServer.sxTestPersist", "SxTestServer.sxFreeExt", "SxTestFileType\\shellex"})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ApprovedKey, "{9A3C5E10-6D1B-4F27-8C44-2B1E7A0D5F31}"), "<none>");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "SxTestFileType"), "a file type of someone else");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ApprovedKey));
    DeleteTree("SxTestFileType");
}

TEST(SxComServer, ShortPathForAServerPathWithBlanksAndFailedRegistration)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"sx test server", dll = dir + L"\\SxTestServer.dll";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(ServerPath().c_str(), dll.c_str(), FALSE));
    ASSERT_EQ(RunProcess(L"regsvr32.exe /s \"" + dll + L"\""), 0u);
    const std::string inproc = Value(HKEY_CLASSES_ROOT, std::string(ExtKey) + "\\InprocServer32");
    EXPECT_EQ(inproc.find(' '), std::string::npos) << inproc;
    wchar_t longPath[MAX_PATH] = {};
    GetLongPathNameW(Utf8ToWide(inproc).c_str(), longPath, MAX_PATH);
    EXPECT_TRUE(SameText(WideToUtf8(longPath), WideToUtf8(dll))) << WideToUtf8(longPath);
    ASSERT_EQ(RunProcess(L"regsvr32.exe /s /u \"" + dll + L"\""), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ExtKey));

    // A component whose registration raises: the server answers E_FAIL, nothing escapes.
    HMODULE library = LoadLibraryW(dll.c_str());
    ASSERT_TRUE(library);
    auto switches = Entry<void (*)(int, int)>(library, "SxTestSwitches");
    auto registerServer = Entry<HRESULT(STDAPICALLTYPE*)()>(library, "DllRegisterServer");
    auto unregisterServer = Entry<HRESULT(STDAPICALLTYPE*)()>(library, "DllUnregisterServer");
    switches(0, 1);
    EXPECT_EQ(registerServer(), E_FAIL);
    switches(0, 0);
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ExtKey));
    FreeLibrary(library);
    DeleteFileW(dll.c_str());
    RemoveDirectoryW(dir.c_str());
    DeleteTree("SxTestFileType");
}

class SxComObjects : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        library = LoadLibraryW(ServerPath().c_str());
        ASSERT_TRUE(library);
        getClassObject = Entry<decltype(getClassObject)>(library, "DllGetClassObject");
        canUnloadNow = Entry<decltype(canUnloadNow)>(library, "DllCanUnloadNow");
        lastReport = Entry<decltype(lastReport)>(library, "SxTestLastReport");
        counts = Entry<decltype(counts)>(library, "SxTestModuleCounts");
        switches = Entry<decltype(switches)>(library, "SxTestSwitches");
        ASSERT_TRUE(getClassObject && canUnloadNow && lastReport && counts);
    }
    void TearDown() override
    {
        FreeLibrary(library);
        CoUninitialize();
    }
    ComPtr<IClassFactory> Factory(const CLSID& clsid)
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())), S_OK);
        return factory;
    }
    TSxBaseShellObject* ComponentOf(IUnknown* object)
    {
        ComPtr<ISxShellObject> shellObject;
        if (FAILED(object->QueryInterface(IID_ISxShellObject, reinterpret_cast<void**>(shellObject.GetAddressOf()))))
            return nullptr;
        TSxBaseShellObject* component = nullptr;
        shellObject->GetShellObject(&component);
        return component;
    }

    HMODULE library = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
    int (*lastReport)(char*, int) = nullptr;
    void (*counts)(int*, int*, int*) = nullptr;
    void (*switches)(int, int) = nullptr;
};

TEST_F(SxComObjects, FactoriesInterfacesAndReferenceCounts)
{
    const CLSID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    void* nothing = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(unknown, IID_IClassFactory, &nothing), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(nothing, nullptr);
    EXPECT_EQ(getClassObject(ExtClsid, IID_IShellFolder, &nothing), E_NOINTERFACE);

    ComPtr<IClassFactory> factory = Factory(ExtClsid);
    ASSERT_TRUE(factory);
    IUnknown* outer = factory.Get(); // any controller is refused
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(outer, IID_PPV_ARGS(&aggregated)), CLASS_E_NOAGGREGATION);
    ComPtr<IPersistFile> wrong;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&wrong)), E_NOINTERFACE);
    EXPECT_EQ(canUnloadNow(), S_OK) << "a refused object leaves nothing alive";

    ComPtr<IShellExtInit> ext;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&ext)), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ComPtr<IUnknown> unknown1;
    ASSERT_EQ(ext.As(&unknown1), S_OK);
    ComPtr<IUnknown> unknown2;
    ASSERT_EQ(ext.As(&unknown2), S_OK);
    EXPECT_EQ(unknown1, unknown2) << "one identity";
    const struct {
        const IID* iid;
        HRESULT result;
    } interfaces[] = {{&IID_IShellExtInit, S_OK}, {&IID_ISxShellObject, S_OK}, {&IID_IPersistFile, E_NOINTERFACE},
                      {&IID_IVCLComObject, E_NOINTERFACE}, {&IID_IDispatch, E_NOINTERFACE},
                      {&IID_IContextMenu, E_NOINTERFACE}};
    for (const auto& i : interfaces) {
        ComPtr<IUnknown> answer;
        EXPECT_EQ(unknown1->QueryInterface(*i.iid, reinterpret_cast<void**>(answer.GetAddressOf())), i.result);
    }
    EXPECT_EQ(unknown1.Reset(), 2u);
    EXPECT_EQ(unknown2.Reset(), 1u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(TRUE);
    EXPECT_EQ(ext.Reset(), 0u);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a locked server stays";
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory.Reset();

    ComPtr<IClassFactory> persistFactory = Factory(PersistClsid);
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(persistFactory->CreateInstance(nullptr, IID_PPV_ARGS(&persist)), S_OK);
    CLSID classId{};
    EXPECT_EQ(persist->GetClassID(&classId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(classId, PersistClsid));
    EXPECT_EQ(persist->Load(L"c:\\file.txt", STGM_READ), S_OK);
    EXPECT_EQ(persist->Load(L"fail", STGM_READ), static_cast<HRESULT>(0x80041234u));
    EXPECT_EQ(persist->IsDirty(), E_NOTIMPL);
    persist.Reset();
    persistFactory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(SxComObjects, ExceptionInsideAComMethodReachesTheControllerAndComesBackAsTheHResult)
{
    ComPtr<IClassFactory> factory = Factory(ExtClsid);
    ComPtr<IShellExtInit> ext;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&ext)), S_OK);
    EXPECT_EQ(ext->Initialize(nullptr, nullptr, nullptr), static_cast<HRESULT>(0x80041234u));
    char report[2048] = {};
    lastReport(report, sizeof report);
    const std::string text = report;
    EXPECT_EQ(text.rfind("ESxTestError|nothing selected|", 0), 0u) << text;
    EXPECT_NE(text.find("Class      : TTestExt\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Name       : sxTestExt\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Owner name : modTest\r\n"), std::string::npos) << text;
    ext.Reset();
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(SxComObjects, ModulesPerThreadAndThreadFree)
{
    ComPtr<IClassFactory> factory = Factory(ExtClsid);
    ComPtr<IUnknown> first, second, third;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&first)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&second)), S_OK);
    TSxBaseShellObject* a = ComponentOf(first.Get());
    TSxBaseShellObject* b = ComponentOf(second.Get());
    EXPECT_NE(a, b) << "a busy component makes the factory add a module";
    EXPECT_NE(a->Owner(), b->Owner());
    first.Reset();
    second.Reset();
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&third)), S_OK);
    EXPECT_EQ(ComponentOf(third.Get()), b) << "the newest module of the thread comes back";

    TSxBaseShellObject* other = nullptr;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            ComPtr<IUnknown> object;
            if (SUCCEEDED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object))))
                other = ComponentOf(object.Get());
        }
        CoUninitialize();
    }).join();
    ASSERT_TRUE(other);
    EXPECT_NE(other->Owner(), a->Owner());
    EXPECT_NE(other->Owner(), b->Owner());
    third.Reset();
    factory.Reset();

    int alive, registered, offers;
    counts(&alive, &registered, &offers);
    const int aliveBefore = alive, offersBefore = offers;
    EXPECT_EQ(registered, 3) << "per-thread modules stay registered";
    ComPtr<IClassFactory> freeFactory = Factory(FreeClsid);
    ComPtr<IUnknown> free1, free2;
    ASSERT_EQ(freeFactory->CreateInstance(nullptr, IID_PPV_ARGS(&free1)), S_OK);
    ASSERT_EQ(freeFactory->CreateInstance(nullptr, IID_PPV_ARGS(&free2)), S_OK);
    EXPECT_NE(ComponentOf(free1.Get())->Owner(), ComponentOf(free2.Get())->Owner());
    counts(&alive, &registered, &offers);
    EXPECT_EQ(alive, aliveBefore + 2);
    EXPECT_EQ(registered, 3) << "a thread-free module is never registered";
    free1.Reset();
    free2.Reset();
    counts(&alive, &registered, &offers);
    EXPECT_EQ(alive, aliveBefore) << "thread-free modules go with their objects";
    EXPECT_EQ(offers, offersBefore + 2);

    // A handler that refuses lets the module live on.
    switches(1, 0);
    ComPtr<IUnknown> kept;
    ASSERT_EQ(freeFactory->CreateInstance(nullptr, IID_PPV_ARGS(&kept)), S_OK);
    kept.Reset();
    counts(&alive, &registered, &offers);
    EXPECT_EQ(alive, aliveBefore + 1);
    switches(0, 0);
    freeFactory.Reset();

    EXPECT_EQ(canUnloadNow(), S_OK);
    counts(&alive, &registered, &offers);
    EXPECT_EQ(registered, 0) << "the last unload check frees the per-thread modules";
}
