#include "uTOpenDocumentQueue.h"

#include "uGLBConst.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBWin.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"

#include <algorithm>

namespace {

std::string DateText(double value) { return value ? DateTimeToText(value) : std::string(); }

} // namespace

TOpenDocumentQueue::TOpenDocumentQueue(TApplicationEnviroment& environment, TvrqDialog& dialog, TLogger& logger,
                                       TSxChangeNotifier& watcher)
    : Environment(environment), Dialog(dialog), Logger(logger), Watcher(watcher)
{
}

bool TOpenDocumentQueue::UploadSavedFile(const std::string& file, std::string& error)
{
    TVirtualFileStorage mirror(Environment.Cache);
    TVirtualFileRecord record;
    mirror.LoadVirtualFileStorageFromFile(file + ".sxc", record);
    // The document lies beside its sidecar, in the open folder or in a sub-folder of it.
    const std::string& local = file;
    const std::string server = record.Path.empty() ? record.Name : record.Path + "\\" + record.Name;
    TWEBDAVClient client;
    Dialog.Progress.Start(Txt(84, Environment.Language), 1, true);
    const bool sent = client.UploadForm(local, server, Dialog);
    Dialog.Progress.Close();
    if (!sent)
        error = "UploadForm \"" + local + "\" to \"" + server + "\" failed";
    return sent;
}

bool TOpenDocumentQueue::SendDocument(const std::string& file, std::string& error)
{
    for (int pass = 0; pass < 3; ++pass) {
        if (shl_OpenDocumentSent(file))
            return true;
        const uint64_t written = shl_FileLastWrite(file);
        if (!UploadSavedFile(file, error))
            return false;
        // Saved again while it went out: the server may hold part of each, so it goes once more.
        if (shl_FileLastWrite(file) == written) {
            if (!shl_MarkOpenDocumentSent(file, written))
                Logger.Error("SendDocument: cannot mark \"" + file + "\" as sent: " + SysErrorMessage(GetLastError()));
            return true;
        }
    }
    error = "\"" + file + "\" kept changing while it was sent";
    return false;
}

void TOpenDocumentQueue::Send(const std::string& file)
{
    if (std::find(Waiting.begin(), Waiting.end(), file) == Waiting.end())
        Waiting.push_back(file);
    // An upload pumps messages while it waits: a save it lets through waits for its turn, so the
    // uploads of one document never overlap and the newest bytes go last.
    if (FSending)
        return;
    FSending = true;
    while (!Waiting.empty()) {
        const std::string next = Waiting.front();
        Waiting.erase(Waiting.begin());
        std::string error;
        bool sent = false;
        try {
            sent = SendDocument(next, error);
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (!sent) {
            Logger.Error("SxChangeNotifierChange: " + error);
            if (OnUploadFailed)
                OnUploadFailed(next);
        }
    }
    FSending = false;
    if (OnSent)
        OnSent();
}

void TOpenDocumentQueue::FileAdded(const TSxFileInfoEventData& info)
{
    // A document kept from an earlier session (its upload failed) goes as soon as the folder is
    // watched again; one as it came from the server needs nothing.
    const std::string file = info.Path();
    try {
        if (shl_ExtractFileExt(file) == ".sxc" || !shl_FileExists(file + ".sxc") || shl_OpenDocumentSent(file))
            return;
    } catch (const std::exception& e) {
        Logger.Error(std::string("SxChangeNotifierAddFile: ") + e.what());
        return;
    }
    Send(file);
}

void TOpenDocumentQueue::FileChanged(const TSxFileInfoEventData& info)
{
    const std::string file = info.Path();
    try {
        if (shl_ExtractFileExt(file) == ".sxc")
            return;
        if (!shl_PathExists(file + ".sxc"))
            return;
        Logger.Debug("ChangeNotifier: File: " + file + ", LastWriteTime: " + DateText(info.OldLastWriteTime) +
                     " => " + DateText(info.LastWriteTime) + ", CreationDate: " + DateText(info.OldCreationDate) +
                     " => " + DateText(info.CreationDate) + ", LastAccessTime: " + DateText(info.OldLastAccessTime) +
                     " => " + DateText(info.LastAccessTime) + ", Attribute: " + std::to_string(info.OldAttributes) +
                     " => " + std::to_string(info.Attributes));
        if (info.LastWriteTicks == info.OldLastWriteTicks)
            return;   // attributes or last access only
        // A fresh download by the extension comes with its sidecar marked with its time; a save,
        // also one that writes a new file and renames it over the document, is later than that.
        if (shl_OpenDocumentSent(file))
            return;
    } catch (const std::exception& e) {
        Logger.Error(std::string("SxChangeNotifierChange: ") + e.what());
        return;
    }
    Send(file);
}

bool TOpenDocumentQueue::Flush()
{
    Watcher.Deactivate();
    bool safe = true;
    // The documents of the open folder and of its sub-folders (one per server folder).
    std::vector<std::wstring> files;
    shl_WalkTree(Utf8ToWide(Environment.Open), [&](const TShellTreeEntry& entry) {
        if (!entry.Folder)
            files.push_back(entry.Path);
        return TShellWalk::Continue;
    });
    for (const std::wstring& file : files) {
        const std::string name = WideToUtf8(file);
        if (shl_ExtractFileExt(name) == ".sxc" || !shl_PathExists(file + L".sxc"))
            continue;
        // A document its program still holds may have changes that are not even saved yet.
        THandle probe(CreateFileW(shl_LongPath(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe) {
            Logger.Error("FlushOpenDocuments: \"" + name + "\" is still open in its program; kept");
            safe = false;
            continue;
        }
        probe.reset();
        std::string error;
        try {
            if (SendDocument(name, error))
                continue;
        } catch (const std::exception& e) {
            error = e.what();
        }
        Logger.Error("FlushOpenDocuments: " + error + "; kept");
        safe = false;
    }
    // Once everything is on the server, the folder may go again.
    FKeepOpenFolder = !safe;
    return safe;
}
