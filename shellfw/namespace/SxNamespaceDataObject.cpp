#include "SxNamespaceDataObject.h"

#include "SxShellFolder.h"
#include "SxTransferFormats.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "SxTools.h"
#include "SxComObject.h"
#include "SxProvider.h"
#include "SxStream.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

const IID IID_ISxNamespaceDataObject = {0x3E6F1B52, 0x9C47, 0x4D8A, {0xA1, 0xF3, 0x6B, 0x2D, 0x0E, 0x8C, 0x5A, 0x71}};

UINT SxFileGroupDescriptorWFormat()
{
    static const UINT format = RegisterClipboardFormatW(L"FileGroupDescriptorW");
    return format;
}

FORMATETC TSxNamespaceCustomDataObject::Format(int index)
{
    UINT format = 0;
    DWORD tymed = TYMED_HGLOBAL;
    switch (index) {
    case sfiPrivateFormat: format = CF_SXPRIVATEFORMAT; break;
    case sfiShellIDList: format = CF_SXSHELLIDLIST; break;
    case sfiHDrop: format = CF_HDROP; break;
    case sfiInShellDragLoop: format = CF_SXINSHELLDRAGLOOP; break;
    case sfiFileContents: format = CF_SXFILECONTENTS; break;
    case sfiDescriptor: format = SxFileGroupDescriptorWFormat(); break;
    case sfiPreferredEffect: format = CF_SXPREFERREDDROPEFFECT; break;
    case sfiFileContentsStream: format = CF_SXFILECONTENTS; tymed = TYMED_ISTREAM; break;
    case sfiPasteSucceeded: format = CF_SXPASTESUCCEEDED; break;
    case sfiFileContentsStorage: format = CF_SXFILECONTENTS; tymed = TYMED_ISTORAGE; break;
    case sfiDescriptorA: format = CF_SXFILEGROUPDESCRIPTOR; break;
    case sfiPerformedEffect: format = CF_SXPERFORMEDDROPEFFECT; break;
    default: break;
    }
    return {static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, tymed};
}

// ---- the enumerator --------------------------------------------------------------------------

TSxEnumFormatEtc::TSxEnumFormatEtc(std::vector<FORMATETC> formats, ULONG position)
    : FFormats(std::move(formats)), FPosition(std::min<ULONG>(position, static_cast<ULONG>(FFormats.size())))
{
}

STDMETHODIMP TSxEnumFormatEtc::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxEnumFormatEtc, IID_IUnknown, IEnumFORMATETC),
                                  SX_QITABENT(TSxEnumFormatEtc, IEnumFORMATETC), {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

STDMETHODIMP TSxEnumFormatEtc::Next(ULONG count, FORMATETC* items, ULONG* fetched)
{
    if (fetched)
        *fetched = 0;
    if (!items || (count > 1 && !fetched))
        return E_POINTER;
    ULONG copied = 0;
    while (copied < count && FPosition < FFormats.size())
        items[copied++] = FFormats[FPosition++];  // ptd is always nullptr: nothing to duplicate
    if (fetched)
        *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

STDMETHODIMP TSxEnumFormatEtc::Skip(ULONG count)
{
    const ULONG left = static_cast<ULONG>(FFormats.size()) - FPosition;
    if (count > left) {
        FPosition = static_cast<ULONG>(FFormats.size());
        return S_FALSE;
    }
    FPosition += count;
    return S_OK;
}

STDMETHODIMP TSxEnumFormatEtc::Reset()
{
    FPosition = 0;
    return S_OK;
}

STDMETHODIMP TSxEnumFormatEtc::Clone(IEnumFORMATETC** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    return SxComCall(nullptr, [&]() -> HRESULT {
        *enumerator = new TSxEnumFormatEtc(FFormats, FPosition);
        return S_OK;
    });
}

// ---- the data object -------------------------------------------------------------------------

STDMETHODIMP TSxNamespaceDataObject::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxNamespaceDataObject, IID_IUnknown, IDataObject),
                                  SX_QITABENT(TSxNamespaceDataObject, IDataObject),
                                  SX_QITABENT(TSxNamespaceDataObject, ISxNamespaceDataObject), {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

int TSxNamespaceDataObject::Entry(const FORMATETC& format) const
{
    // Each format once, by the media it can come in; HGLOBAL first.
    static const int entries[] = {sfiPrivateFormat, sfiShellIDList, sfiHDrop, sfiFileContents,
                                  sfiFileContentsStream, sfiDescriptor, sfiDescriptorA, sfiPreferredEffect};
    for (int index : entries) {
        const FORMATETC entry = Format(index);
        if (entry.cfFormat == format.cfFormat && (entry.tymed & format.tymed))
            return index;
    }
    return -1;
}

bool TSxNamespaceDataObject::CanRender(int entry, LONG lindex)
{
    if (!Provider)
        return false;
    switch (entry) {
    case sfiPrivateFormat:
    case sfiShellIDList:
    case sfiPreferredEffect:
        return true;
    case sfiHDrop:
        return Provider->CanProvideFileNames();
    case sfiDescriptor:
    case sfiDescriptorA:
        return Provider->CanProvideFileContents();
    case sfiFileContents:
    case sfiFileContentsStream:
        if (!Provider->CanProvideFileContents())
            return false;
        if (lindex == -1)
            return true;
        ExpandFolders();
        return lindex >= 0 && lindex < DescriptorGrains.Count() && DescriptorGrains.GetItem(lindex)->IsFile;
    default:
        return false;
    }
}

STDMETHODIMP TSxNamespaceDataObject::QueryGetData(FORMATETC* format)
{
    if (!format)
        return E_INVALIDARG;
    return SxComCall(nullptr, [&]() -> HRESULT {
        if (!(format->dwAspect & DVASPECT_CONTENT))
            return DV_E_DVASPECT;
        const int entry = Entry(*format);
        if (entry < 0)
            return DV_E_FORMATETC;
        return CanRender(entry, format->lindex) ? S_OK : DV_E_FORMATETC;
    });
}

void TSxNamespaceDataObject::ExpandFolders()
{
    if (FoldersExpanded)
        return;
    // Breadth-first: every folder of the list, also the ones appended on the way, adds its
    // contents with its own path in front of their names. The object's own grains stay as they are.
    DescriptorGrains.Assign(Grains);
    DescriptorNames.clear();
    for (int i = 0; i < Grains.Count(); ++i)
        DescriptorNames.push_back(Grains.GetItem(i)->Name);
    for (int i = 0; i < DescriptorGrains.Count(); ++i) {
        TSxCustomDataGrain& folder = *DescriptorGrains.GetItem(i);
        if (folder.IsFile)
            continue;
        TSxDataGrainList children;
        folder.Populate(children);
        const std::string prefix = DescriptorNames[static_cast<size_t>(i)] + "\\";
        while (children.Count() > 0) {
            std::unique_ptr<TSxCustomDataGrain> child = children.Extract(0);
            if (folder.AbsolutePidl())
                child->PlaceUnder(folder);
            DescriptorNames.push_back(prefix + child->Name);
            DescriptorGrains.Add(std::move(child));
        }
    }
    FoldersExpanded = true;
}

STDMETHODIMP TSxNamespaceDataObject::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    if (!format || !medium)
        return E_INVALIDARG;
    *medium = {};
    return SxComCall(ShellFolder, [&]() -> HRESULT {
        if (!ShellFolder || !ShellFolder->FolderIDList() || !Provider)
            return E_INVALIDARG;
        if (!(format->dwAspect & DVASPECT_CONTENT))
            return DV_E_DVASPECT;
        const int entry = Entry(*format);
        if (entry < 0)
            return DV_E_FORMATETC;
        if (!CanRender(entry, format->lindex))
            return entry == sfiFileContents || entry == sfiFileContentsStream ? DV_E_LINDEX : DV_E_FORMATETC;
        PCSxItemIDList folderList = ShellFolder->FolderIDList();
        std::vector<uint8_t> bytes;
        switch (entry) {
        case sfiPrivateFormat:
            bytes = Provider->BuildPrivateFormat(folderList, Grains);
            break;
        case sfiShellIDList:
            bytes = Provider->BuildIDListArray(folderList, Grains);
            break;
        case sfiHDrop:
            bytes = Provider->BuildHDROP(folderList, Grains);
            break;
        case sfiDescriptor:
        case sfiDescriptorA:
            ExpandFolders();
            bytes = Provider->BuildFileGroupDescriptor(DescriptorGrains, DescriptorNames, entry == sfiDescriptor);
            break;
        case sfiFileContents:
        case sfiFileContentsStream:
            if (format->lindex < 0)
                return DV_E_LINDEX;
            // A download that fails raises: no medium, never an empty file.
            bytes = Provider->BuildFileContents(*DescriptorGrains.GetItem(format->lindex));
            break;
        case sfiPreferredEffect:
            bytes = SxDWordBytes(PreferredEffect == 0xFFFF ? 0 : PreferredEffect);
            break;
        default:
            return DV_E_FORMATETC;
        }
        // The medium the caller asked for: a stream when only a stream will do.
        const HRESULT made = !(format->tymed & TYMED_HGLOBAL) && (format->tymed & TYMED_ISTREAM)
                                 ? SxStreamMedium(bytes, *medium)
                                 : SxGlobalMedium(bytes, *medium);
        if (SUCCEEDED(made) && entry == sfiHDrop)
            FNamesDelivered = true;
        if (SUCCEEDED(made) && (entry == sfiFileContents || entry == sfiFileContentsStream))
            FContentsDelivered.insert(format->lindex);
        return made;
    });
}

STDMETHODIMP TSxNamespaceDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

STDMETHODIMP TSxNamespaceDataObject::GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out)
{
    if (!out)
        return E_INVALIDARG;
    if (in)
        *out = *in;
    out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP TSxNamespaceDataObject::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release)
{
    if (!format || !medium)
        return E_INVALIDARG;
    return SxComCall(ShellFolder, [&]() -> HRESULT {
        const bool preferred = format->cfFormat == CF_SXPREFERREDDROPEFFECT;
        const bool performed = format->cfFormat == CF_SXPERFORMEDDROPEFFECT;
        const bool pasted = format->cfFormat == CF_SXPASTESUCCEEDED;
        if (!preferred && !performed && !pasted)
            return E_INVALIDARG;  // the medium stays the caller's
        // The medium is ours from here on when the caller hands it over.
        struct TRelease {
            STGMEDIUM* medium;
            bool release;
            ~TRelease() { if (release) ReleaseStgMedium(medium); }
        } releaseMedium{medium, release != FALSE};
        uint32_t value = 0;
        if (!SxReadDWordMedium(*medium, value))
            return DV_E_TYMED;
        if (preferred)
            PreferredEffect = value;
        else if (value & DROPEFFECT_MOVE)
            CompleteMove();
        return S_OK;
    });
}

STDMETHODIMP TSxNamespaceDataObject::ReportMovedGrains(const int* indices, int count)
{
    if (count < 0 || (count > 0 && !indices))
        return E_INVALIDARG;
    FMovedReported = true;
    FMovedGrains.clear();
    for (int i = 0; i < count; ++i)
        if (indices[i] >= 0 && indices[i] < Grains.Count())
            FMovedGrains.push_back(indices[i]);
    return S_OK;
}

void TSxNamespaceDataObject::CompleteMove()
{
    // Once per object: the target says "moved" both as the performed effect and as the paste
    // that succeeded. A drop target of this process tells which grains really arrived; only
    // those are completed.
    if (FMoveCompleted || !Provider)
        return;
    FMoveCompleted = true;
    TSxDataGrainList moved;
    if (FMovedReported) {
        for (int index : FMovedGrains)
            moved.Add(Grains.GetItem(index)->Clone());
    } else {
        // Any other target: only what it was handed in full, so a target that reports a move after
        // a failed download never costs the source its item.
        for (int i = 0; i < Grains.Count(); ++i)
            if (Delivered(i))
                moved.Add(Grains.GetItem(i)->Clone());
    }
    if (moved.Count() > 0)
        Provider->SetPerformedDropEffect(ShellFolder ? ShellFolder->FolderIDList() : nullptr, moved, DROPEFFECT_MOVE);
}

bool TSxNamespaceDataObject::Delivered(int grain) const
{
    if (FNamesDelivered)
        return true;
    if (!FoldersExpanded)
        return false;
    if (Grains.GetItem(grain)->IsFile)
        return FContentsDelivered.count(grain) > 0;
    // A folder: every file below it (the descriptor names under its own path).
    const std::string below = DescriptorNames[static_cast<size_t>(grain)] + "\\";
    for (int i = Grains.Count(); i < DescriptorGrains.Count(); ++i)
        if (DescriptorNames[static_cast<size_t>(i)].compare(0, below.size(), below) == 0 &&
            DescriptorGrains.GetItem(i)->IsFile && !FContentsDelivered.count(i))
            return false;
    return true;
}

STDMETHODIMP TSxNamespaceDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    if (direction != DATADIR_GET)
        return E_NOTIMPL;
    return SxComCall(ShellFolder, [&]() -> HRESULT {
        std::vector<FORMATETC> formats{Format(sfiPrivateFormat), Format(sfiShellIDList)};
        if (Provider && Provider->CanProvideFileNames())
            formats.push_back(Format(sfiHDrop));
        if (Provider && Provider->CanProvideFileContents()) {
            formats.push_back(Format(sfiDescriptor));
            formats.push_back(Format(sfiDescriptorA));
            FORMATETC contents = Format(sfiFileContents);
            contents.tymed = TYMED_HGLOBAL | TYMED_ISTREAM;
            formats.push_back(contents);
        }
        formats.push_back(Format(sfiPreferredEffect));
        *enumerator = new TSxEnumFormatEtc(std::move(formats));
        return S_OK;
    });
}

STDMETHODIMP TSxNamespaceDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection)
{
    if (connection)
        *connection = 0;
    return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP TSxNamespaceDataObject::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }

STDMETHODIMP TSxNamespaceDataObject::EnumDAdvise(IEnumSTATDATA** enumerator)
{
    if (enumerator)
        *enumerator = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}

// ---- DWORD formats ---------------------------------------------------------------------------

HRESULT DataObjectSetDWord(IDataObject* dataObject, uint32_t value, UINT format)
{
    if (!dataObject)
        return E_INVALIDARG;
    STGMEDIUM medium{};
    HRESULT hr = SxGlobalMedium(SxDWordBytes(value), medium);
    if (FAILED(hr))
        return hr;
    FORMATETC f{static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    hr = dataObject->SetData(&f, &medium, TRUE);
    if (FAILED(hr))
        ReleaseStgMedium(&medium);  // not taken over
    return hr;
}

bool DataObjectGetDWord(IDataObject* dataObject, UINT format, uint32_t& value)
{
    value = 0;
    if (!dataObject)
        return false;
    FORMATETC f{static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    TSxMedium medium;
    if (FAILED(dataObject->GetData(&f, &medium.Medium)))
        return false;
    return SxReadDWordMedium(medium.Medium, value);
}

// ---- media -----------------------------------------------------------------------------------

TSxLockedGlobal::TSxLockedGlobal(HGLOBAL global) : FGlobal(global)
{
    if (!global)
        return;
    Data = static_cast<const uint8_t*>(GlobalLock(global));
    Size = Data ? GlobalSize(global) : 0;
}

TSxLockedGlobal::~TSxLockedGlobal()
{
    if (Data)
        GlobalUnlock(FGlobal);
}

std::vector<uint8_t> SxDWordBytes(uint32_t value)
{
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

namespace {

HGLOBAL GlobalOf(const std::vector<uint8_t>& bytes)
{
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.empty() ? 1 : bytes.size());
    if (!global)
        return nullptr;
    if (!bytes.empty()) {
        void* at = GlobalLock(global);
        if (!at) {
            GlobalFree(global);
            return nullptr;
        }
        std::memcpy(at, bytes.data(), bytes.size());
        GlobalUnlock(global);
    }
    return global;
}

} // namespace

HRESULT SxGlobalMedium(const std::vector<uint8_t>& bytes, STGMEDIUM& medium)
{
    medium = {};
    HGLOBAL global = GlobalOf(bytes);
    if (!global)
        return E_OUTOFMEMORY;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = global;
    return S_OK;
}

HRESULT SxStreamMedium(const std::vector<uint8_t>& bytes, STGMEDIUM& medium)
{
    medium = {};
    HGLOBAL global = GlobalOf(bytes);
    if (!global)
        return E_OUTOFMEMORY;
    IStream* stream = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(global, TRUE, &stream);
    if (FAILED(hr)) {
        GlobalFree(global);
        return hr;
    }
    // The stream is as long as the contents, not as the block (which may be rounded up).
    ULARGE_INTEGER size;
    size.QuadPart = bytes.size();
    stream->SetSize(size);
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = stream;
    return S_OK;
}

bool SxReadDWordMedium(const STGMEDIUM& medium, uint32_t& value)
{
    value = 0;
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal)
        return false;
    TSxLockedGlobal block(medium.hGlobal);
    try {
        value = SxReadDWordFormat(block.Data, block.Size);
        return true;
    } catch (const ESxTransferFormatError&) {
        return false;
    }
}

std::vector<std::string> SxDropFileNames(HDROP drop, const void* data, size_t size)
{
    // The whole list lies inside the block (foreign data); only then does DragQueryFile read it.
    const size_t expected = SxReadDropFiles(data, size).Names.size();
    std::vector<std::string> names;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count && i < expected; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring name(static_cast<size_t>(length) + 1, L'\0');
        name.resize(DragQueryFileW(drop, i, name.data(), length + 1));
        if (!name.empty())
            names.push_back(WideToUtf8(name));
    }
    return names;
}

namespace {

// A byte stream over an OLE stream, reading at most Limit bytes of it.
class TSxOleStream final : public TSxByteStream {
public:
    TSxOleStream(IStream* stream, uint64_t limit) : FStream(stream)
    {
        STATSTG stat{};
        uint64_t size = 0;
        if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)))
            size = stat.cbSize.QuadPart;
        LARGE_INTEGER zero{};
        ULARGE_INTEGER now{};
        stream->Seek(zero, STREAM_SEEK_CUR, &now);
        FStart = now.QuadPart;
        FSize = std::min(size > FStart ? size - FStart : 0, limit);
    }
    size_t Read(void* buffer, size_t count) override
    {
        count = static_cast<size_t>(std::min<uint64_t>(count, FSize - std::min(FSize, FPosition)));
        ULONG read = 0;
        if (count && FAILED(FStream->Read(buffer, static_cast<ULONG>(std::min<size_t>(count, 0x7FFFFFFF)), &read)))
            throw ESxStreamError("The dropped contents cannot be read");
        FPosition += read;
        return read;
    }
    void Write(const void*, size_t) override { throw ESxStreamError("The dropped contents are read-only"); }
    uint64_t GetPosition() const override { return FPosition; }
    void SetPosition(uint64_t position) override
    {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(FStart + std::min(position, FSize));
        if (FAILED(FStream->Seek(to, STREAM_SEEK_SET, nullptr)))
            throw ESxStreamError("The dropped contents cannot be positioned");
        FPosition = std::min(position, FSize);
    }
    uint64_t GetSize() const override { return FSize; }

private:
    Microsoft::WRL::ComPtr<IStream> FStream;
    uint64_t FStart = 0, FSize = 0, FPosition = 0;
};

uint64_t LimitOf(const TSxFileDescriptor& d) { return (d.Flags & SxFD_FILESIZE) ? d.Size : UINT64_MAX; }

// A storage copied into a compound file in the temporary folder, read back as bytes.
std::unique_ptr<TSxByteStream> StorageContents(IStorage* storage, uint64_t limit)
{
    const std::wstring name = Utf8ToWide(GetTempFileWithPrefix("hlmark"));
    struct TRemove {
        std::wstring name;
        ~TRemove() { DeleteFileW(name.c_str()); }
    } remove{name};
    {
        Microsoft::WRL::ComPtr<IStorage> copy;
        if (FAILED(StgCreateDocfile(name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                    copy.GetAddressOf())) ||
            FAILED(storage->CopyTo(0, nullptr, nullptr, copy.Get())) || FAILED(copy->Commit(STGC_DEFAULT)))
            return nullptr;
    }
    THandle file(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return nullptr;
    auto bytes = std::make_unique<TSxMemoryStream>();
    std::vector<uint8_t> chunk(64 * 1024);
    DWORD n = 0;
    while (bytes->GetSize() < limit && ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr) && n)
        bytes->Write(chunk.data(), static_cast<size_t>(std::min<uint64_t>(n, limit - bytes->GetSize())));
    bytes->SetPosition(0);
    return bytes;
}

} // namespace

std::unique_ptr<TSxByteStream> SxFileContentsOf(IDataObject* source, LONG index, const TSxFileDescriptor& descriptor)
{
    const uint64_t limit = LimitOf(descriptor);
    for (DWORD tymed : {TYMED_HGLOBAL, TYMED_ISTREAM, TYMED_ISTORAGE}) {
        FORMATETC format{static_cast<CLIPFORMAT>(CF_SXFILECONTENTS), nullptr, DVASPECT_CONTENT, index, tymed};
        TSxMedium medium;
        if (FAILED(source->GetData(&format, &medium.Medium)))
            continue;
        if (medium.Medium.tymed == TYMED_HGLOBAL && medium.Medium.hGlobal) {
            TSxLockedGlobal block(medium.Medium.hGlobal);
            if (!block.Data)
                continue;
            return std::make_unique<TSxMemoryStream>(block.Data, static_cast<size_t>(std::min<uint64_t>(block.Size, limit)));
        }
        if (medium.Medium.tymed == TYMED_ISTREAM && medium.Medium.pstm)
            return std::make_unique<TSxOleStream>(medium.Medium.pstm, limit);
        if (medium.Medium.tymed == TYMED_ISTORAGE && medium.Medium.pstg)
            return StorageContents(medium.Medium.pstg, limit);
    }
    return nullptr;
}
