#pragma once
// The only way to the storage server: one client object per user operation. Server paths are in
// Windows form (names joined by "\", no leading "\", "" the storage root), optionally with the mirror
// root in front; their addresses are built by the routines of uGLBWEBDAVAddress.
#include "uGLBWEBDAVAddress.h"
#include "uGLBWEBDAVListing.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTWEBDAVConnection.h"
#include "uTvrqDialog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using THeaders = std::vector<std::pair<std::string, std::string>>;

// How a request waits for its answer.
enum class TWaitForm {
    Synchronous,   // send returns when the exchange is over
    Polled,        // until complete: test Cancel, pump one message, sleep until a message or the end
};

class TWEBDAVClient {
public:
    // Reads Connection\host, username and password (deciphered) from the settings.
    TWEBDAVClient();
    ~TWEBDAVClient();
    TWEBDAVClient(const TWEBDAVClient&) = delete;
    TWEBDAVClient& operator=(const TWEBDAVClient&) = delete;

    std::unique_ptr<TApplicationEnviroment> Env;
    std::unique_ptr<TLogger> Logger;                 // "WEBDAVClient"
    std::unique_ptr<TWEBDAVConnection> Connection;
    std::string UserName;
    std::string Password;
    std::string Host;                                // scheme, server, optional base path; no final "/"

    // Listing: PROPFIND of path to depth (-1: whole tree). The answer is the body as received (UTF-8
    // XML), kept in a temporary file of Env->Temp. False when cancelled, failed or not answered 207
    // with a body.
    bool GetContent(const std::string& path, int32_t depth, TvrqDialog& dialog, TListingAnswer& answer);
    // Parses a multistatus answer into the mirror, as a well-formed mirror (PlanMirror). With
    // statistics, the whole mirror is rebuilt in a fresh folder that replaces Env.Cache, and the counts
    // go to Application\files, folders and size. Without, the records are written into a fresh folder
    // and then moved over the mirror. Nothing is written before the whole answer parsed; a failure,
    // a record that cannot be written, or Cancel leave the mirror as it was.
    bool TranslateXML(const TListingAnswer& answer, bool countStatistics, TvrqDialog& dialog);

    // Request frame, shared by every operation.
    std::string StripCacheRoot(const std::string& path) const;   // drops a leading Env.Cache
    std::string BuildURL(const std::string& path) const;
    std::string BuildThumbURL(const std::string& path) const;
    // BuildURL with a final "/": the address of a folder (the root's too), as servers want it.
    std::string BuildFolderURL(const std::string& path) const;
    // The base path of Host ("/dav"; "" when Host has none).
    std::string BasePath() const;
    // Takes at most one waiting message of the thread, translates and dispatches it.
    static void ProcessMessages();
    // Bodies in files, for sizes that memory need not hold: Send the request body read from this file
    // in pieces (instead of the body text), Receive the answer's body written into this file as it
    // arrives (see TWEBDAVConnection::SendFile and ReceiveBodyInto). "" is none.
    struct TBodyFiles {
        std::string Send, Receive;
    };
    // One request: Open, the headers in order, send the body, wait in the given form. cancel: the
    // progress whose Cancel is tested in each pass and whose bar shows the bytes of the body under
    // way (nullptr: neither). False when cancelled; raises EWebDAVError when the request failed. The
    // answer stays readable in Connection until Connection->Disconnect().
    bool Execute(const std::string& method, const std::string& url, const THeaders& headers,
                 const std::string& body, TWaitForm form, TvrqProgress* cancel,
                 const TBodyFiles* files = nullptr);

    static const THeaders H1;      // Cache-Control no-cache... and pragma no-cache
    static const THeaders H2;      // Cache-Control no-cache, max-age=1
    static const THeaders H3;      // Cache-Control no-store, max-age=1
    static const THeaders Octet;   // Content-type application/octet-stream
    static const std::string PropfindBody;   // the 90-byte allprop request

    // ---- Operations on single items. An item request is done only for a 2xx answer; every failure is
    // logged and gives false (no exception leaves them). "local" is a full local file name.

    // PROPFIND of depth 0: true for 207; a folder also when asked without its final "\".
    bool FileExists(const std::string& path);
    // Asks the server to make the ".thumb" pictures at or below path; depth -1 is the whole tree.
    bool CreateThumbnail(const std::string& path, int32_t depth);
    // MKCOL of the folder, then of its ".thumb" folder (whose outcome does not count).
    bool MakeDir(const std::string& path);
    // GET into local: the body goes into a temporary file beside local as it arrives, renamed over
    // local only for a complete 2xx answer, so a failure or Cancel leaves local as it was.
    bool Download(const std::string& remotePath, const std::string& local, TvrqDialog& dialog);
    // PUT of the file, sent from disk in pieces (Cancel stops it), confirmed by a PROPFIND of the new item.
    bool Upload(const std::string& local, const std::string& remotePath, TvrqDialog& dialog);
    // PUT of a file that the program which saved it may still hold: waits for it a little, else sends
    // a ".~tmp" copy of it (deleted afterwards) under the file's own server name.
    bool UploadForm(const std::string& local, const std::string& remotePath, TvrqDialog& dialog);
    // The local folder as remoteParent\<its name>\, recursively. A server file is replaced by its PUT,
    // never deleted first; its old thumbnail goes after the PUT succeeded. False when any item failed.
    bool UploadDirectory(const std::string& localFolder, const std::string& remoteParent, TvrqDialog& dialog);
    // The item, then its thumbnail.
    bool Delete(const std::string& path);
    // overwrite: the user said Yes to replacing the target ("Overwrite: T"); without it an existing
    // target refuses the request (412) and stays. The thumbnail follows a done item request.
    bool Copy(const std::string& source, const std::string& target, TvrqDialog& dialog, bool overwrite = false);
    bool Move(const std::string& source, const std::string& target, TvrqDialog& dialog, bool overwrite = false);
    // A MOVE that never replaces an existing target; the thumbnail's outcome does not count.
    bool Rename(const std::string& source, const std::string& target);
    // The first free one of name, "Kopie von " + name, "Kopie (2) von " + name, ... (English "Copy of",
    // "Copy (2) of") in folder; "" when the server could not tell.
    std::string GetUniqueName(const std::string& folder, const std::string& name);
    // folder\GetUniqueName(folder, name) (the name alone in the root); "" when that is "".
    std::string GetUniquePath(const std::string& folder, const std::string& name);
    // Decodes a JPEG file (WIC) into the bitmap Env->Thumb + its base name + ".thumb.bmp".
    void JPEGToBitmap(const std::string& jpegFile);
};
