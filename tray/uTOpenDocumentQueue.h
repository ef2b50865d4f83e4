#pragma once
// The documents opened from the online folder into the open folder, and their way back to the
// server: each save is sent once, one upload at a time and the newest bytes last; before the folder
// goes, every changed document is sent or kept. No window of its own: the main form hands it the
// watcher's events and tells the user what it reports.
#ifdef _WIN32
#include "SxChangeNotifier.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTvrqDialog.h"

#include <functional>
#include <string>
#include <vector>

class TOpenDocumentQueue {
public:
    // watcher: the watcher of the open folder, stopped by Flush.
    TOpenDocumentQueue(TApplicationEnviroment& environment, TvrqDialog& dialog, TLogger& logger,
                       TSxChangeNotifier& watcher);
    TOpenDocumentQueue(const TOpenDocumentQueue&) = delete;
    TOpenDocumentQueue& operator=(const TOpenDocumentQueue&) = delete;

    // The watcher's events. A document with its sidecar goes when it holds a save the server has
    // not got; a sidecar, a file without one and a fresh download go nowhere.
    void FileAdded(const TSxFileInfoEventData& info);
    void FileChanged(const TSxFileInfoEventData& info);
    // Sends the saved document after the uploads already under way (never nested in one).
    void Send(const std::string& file);
    // An upload is under way (further up the stack, pumping messages).
    bool Sending() const { return FSending; }

    // Stops the watcher, then sends every changed document of the open folder to the server; false
    // when one could not be sent or is still held by its program (the folder is then to be kept).
    bool Flush();
    // The last Flush kept a document: the open folder must stay.
    bool KeepsOpenFolder() const { return FKeepOpenFolder; }

    // A document that could not be sent (its full path); the failure is logged already.
    std::function<void(const std::string& file)> OnUploadFailed;
    // Every upload of a run has ended (not fired for a save queued behind an upload under way).
    std::function<void()> OnSent;

private:
    bool UploadSavedFile(const std::string& file, std::string& error);
    // Sends the document when it holds changes the server has not got, until the server has the
    // state it was in when its upload began; false when an upload failed.
    bool SendDocument(const std::string& file, std::string& error);

    TApplicationEnviroment& Environment;
    TvrqDialog& Dialog;
    TLogger& Logger;
    TSxChangeNotifier& Watcher;
    bool FSending = false, FKeepOpenFolder = false;
    // Saved documents waiting for the upload under way.
    std::vector<std::string> Waiting;
};
#endif
