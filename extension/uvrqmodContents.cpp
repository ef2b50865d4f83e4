// Open, file contents and thumbnails: what a server file's bytes become on this machine.
#include "uvrqmodPermanent.h"

#include "uGLBConst.h"
#include "uGLBTools.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"
#include "uvrqLauncher.h"
#include "uvrqmodTools.h"

#include <algorithm>

namespace {

// The re-entry guard of the thumbnail fetch: the storage client pumps messages while it waits,
// so Explorer can ask again on the same thread.
thread_local bool ThumbsLoading = false;

} // namespace

std::string TvrqmodPermanent::OpenFileOf(const std::string& serverPath) const
{
    return shl_WithSlash(Env->Open) + ServerPathSlot(FolderPartOf(serverPath)) + "\\" + NamePartOf(serverPath);
}

std::string TvrqmodPermanent::ThumbJpegOf(const std::string& serverPath) const
{
    return shl_WithSlash(Env->Thumb) + ServerPathSlot(serverPath) + ".thumb.jpg";
}

std::string TvrqmodPermanent::ThumbBitmapOf(const std::string& serverPath) const
{
    return shl_WithSlash(Env->Thumb) + ServerPathSlot(serverPath) + ".thumb.bmp";
}

void TvrqmodPermanent::sxVrqProviderGrainOpen(TSxCustomDataGrain& grain, std::string& command, std::string& parameters,
                                              std::string& directory)
{
    command.clear();
    parameters.clear();
    directory.clear();
    TBusyCursor busy;
    LogDebug("GrainOpen: \"" + grain.Name + "\"");
    try {
        if (!grain.IsFile || !CheckMainAppConnection(true))
            return;
        TWEBDAVClient client;
        const std::string server = client.StripCacheRoot(grain.GetValue("vFilePath"));
        const std::string record = grain.GetValue("vCacheName");
        if (server.empty() || !shl_FileExists(record))
            throw std::runtime_error("the item \"" + grain.Name + "\" is not in the mirror");
        const std::string local = OpenFileOf(server);
        // A copy that was changed here and has not reached the server yet (its upload failed, or the
        // tray program did not run) is the user's work: it is opened as it is, never replaced.
        if (shl_FileExists(local) && shl_FileExists(local + ".sxc") && !shl_OpenDocumentSent(local)) {
            LogDebug("GrainOpen: \"" + local + "\" holds changes not yet on the server; opened as it is");
            if (!LaunchCommand("rundll32.exe url.dll,FileProtocolHandler \"" + local + "\""))
                throw std::runtime_error("cannot start the program of " + local + ": " + SysErrorMessage(GetLastError()));
            return;
        }
        MakeDirectories(FolderPartOf(local));
        TvrqDialog dialog;
        dialog.Progress.StartDefault();
        // The document is written only for a complete answer; the sidecar and the program follow it.
        const bool ok = client.Download(server, local, dialog);
        const bool cancelled = dialog.Progress.Cancelled();
        dialog.Progress.Close();
        if (!ok) {
            LogError("GrainOpen: the download of \"" + server + "\" failed");
            if (!cancelled)
                dialog.ShowWarning(Txt(83), FormatTableText(Pair("Die Datei \"%s\" konnte nicht geöffnet werden.",
                                                                 "The file \"%s\" cannot be opened."),
                                                            grain.Name));
            return;
        }
        // The sidecar comes into place at once with the document's time, which marks the bytes the
        // server has: the tray program sends the document only once it is written later. It names
        // the place the document came from, whatever a damaged or older record says.
        TVirtualFileRecord copy;
        try {
            copy = ReadRecord(record);
        } catch (const std::exception& e) {
            LogError(std::string("GrainOpen: ") + e.what());
            TVirtualFileStorage::InitRecord(copy);
        }
        if (!Storage->WriteSidecar(local, copy, server, shl_FileLastWrite(local)))
            throw std::runtime_error("cannot write " + local + ".sxc");
        if (!LaunchCommand("rundll32.exe url.dll,FileProtocolHandler \"" + local + "\""))
            throw std::runtime_error("cannot start the program of " + local + ": " + SysErrorMessage(GetLastError()));
    } catch (const std::exception& e) {
        LogError(std::string("GrainOpen: ") + e.what());
    }
}

void TvrqmodPermanent::sxVrqProviderGetGrainFileContents(TSxCustomDataGrain& grain, TSxMemoryStream& stream)
{
    TBusyCursor busy;
    LogDebug("GetGrainFileContents: \"" + grain.Name + "\"");
    // A failed download fails the request: an empty stream would become an empty file, and a move
    // would then delete the server's one.
    if (!CheckMainAppConnection())
        throw EProviderException("GetGrainFileContents: no connection to Tandrel Sendrake");
    TWEBDAVClient client;
    const std::string server = client.StripCacheRoot(grain.GetValue("vFilePath"));
    const std::string local =
        shl_WithSlash(Env->Download) + ServerPathSlot(FolderPartOf(server)) + "\\" + NamePartOf(server);
    MakeDirectories(FolderPartOf(local));
    TvrqDialog dialog;
    if (server.empty() || !client.Download(server, local, dialog)) {
        LogError("GetGrainFileContents: the download of \"" + server + "\" failed");
        throw EProviderException("GetGrainFileContents: the download of \"" + server + "\" failed");
    }
    THandle file(CreateFileW(Utf8ToWide(local).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size))
        throw EProviderException("GetGrainFileContents: cannot read " + local);
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    size_t done = 0;
    while (done < bytes.size() &&
           ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20)),
                    &got, nullptr) &&
           got)
        done += got;
    if (done != bytes.size())
        throw EProviderException("GetGrainFileContents: cannot read " + local);
    stream.Clear();
    stream.Write(bytes.data(), bytes.size());
    stream.SetPosition(0);
    NoteDeliveredOut(ServerPathOf(grain));
}

void TvrqmodPermanent::sxVrqProviderGetDataGrainThumb(TSxCustomDataGrain& grain, HBITMAP& thumb)
{
    try {
        const std::string filePath = grain.GetValue("vFilePath");
        if (!grain.IsFile || !shl_IsImageFile(filePath) || !Env)
            return;
        const std::string server = ServerPathOf(filePath);
        const std::string bitmap = ThumbBitmapOf(server);
        if (!shl_FileExists(bitmap)) {
            if (!CheckMainAppConnection())
                return;
            const std::string record = grain.GetValue("vCacheName");
            LoadThumbnails(FolderPartOf(filePath), Storage->ListRecordFiles(FolderPartOf(record)));
        }
        if (shl_FileExists(bitmap))
            thumb = static_cast<HBITMAP>(LoadImageW(nullptr, Utf8ToWide(bitmap).c_str(), IMAGE_BITMAP, 0, 0,
                                                    LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    } catch (const std::exception& e) {
        LogError(std::string("GetDataGrainThumb: ") + e.what());
    }
}

namespace {

// The server's thumbnail of a server file: "<folder>\.thumb\<name>.thumb.jpg".
std::string ServerThumbOf(const std::string& serverPath)
{
    return FolderPartOf(serverPath) + ".thumb\\" + NamePartOf(serverPath) + ".thumb.jpg";
}

// Asks the server for the thumbnail of one picture and keeps it locally; true when the bitmap is there.
bool FetchThumbnail(TWEBDAVClient& client, TvrqDialog& dialog, const std::string& server, const std::string& jpeg)
{
    if (!shl_FileExists(jpeg)) {
        client.CreateThumbnail(server, 0);
        if (!client.Download(ServerThumbOf(server), jpeg, dialog))
            return false;
    }
    client.JPEGToBitmap(jpeg);
    return true;
}

} // namespace

void TvrqmodPermanent::LoadThumbnails(const std::string& folderPath, const std::vector<std::string>& recordFiles)
{
    if (ThumbsLoading)
        return;
    TBusyCursor busy;
    ThumbsLoading = true;
    TvrqDialog dialog;
    try {
        TWEBDAVClient client;
        MakeDirectories(Env->Thumb);
        dialog.Progress.Start(Txt(89), static_cast<int32_t>(recordFiles.size()), true);
        for (const std::string& recordFile : recordFiles) {
            TVirtualFileRecord record;
            try {
                record = ReadRecord(recordFile);
            } catch (const std::exception& e) {
                LogError(std::string("LoadThumbnails: ") + e.what());
            }
            // Only pictures have thumbnails on the server.
            if (!record.Name.empty() && !record.IsFolder && shl_IsImageFile(record.Name)) {
                const std::string server = client.StripCacheRoot(shl_WithSlash(folderPath) + record.Name);
                dialog.Progress.SetLines(Txt(89), record.Name, 4);
                if (!shl_FileExists(ThumbBitmapOf(server)))
                    FetchThumbnail(client, dialog, server, ThumbJpegOf(server));
            }
            dialog.Progress.StepBy(1);
            if (dialog.Progress.Cancelled())
                break;
        }
    } catch (const std::exception& e) {
        LogError(std::string("LoadThumbnails: ") + e.what());
    }
    ThumbsLoading = false;
    dialog.Progress.Close();
}

void TvrqmodPermanent::LoadThumbnail(const std::string& filePath, const std::string&)
{
    try {
        TWEBDAVClient client;
        TvrqDialog dialog;
        MakeDirectories(Env->Thumb);
        const std::string server = client.StripCacheRoot(filePath);
        FetchThumbnail(client, dialog, server, ThumbJpegOf(server));
    } catch (const std::exception& e) {
        LogError(std::string("LoadThumbnail: ") + e.what());
    }
}
