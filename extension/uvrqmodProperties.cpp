// The properties dialog of the folder's items.
#include "uvrqmodPermanent.h"

#include "SxThemes.h"
#include "uGLBConst.h"
#include "uGLBTools.h"
#include "uGLBRegistry.h"
#include "uGLBShellTools.h"
#include "uGLBWin.h"
#include "SxException.h"
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"
#include "uTSystemIcon.h"
#include "uTVirtualFileStorage.h"
#include "uTvrqDialog.h"
#include "uvrqmodTools.h"
#include "ufrmElementPropertySheet.h"

TElementProperties TvrqmodPermanent::ElementPropertiesOf(TSxCustomDataGrain& grain, TSystemIcon& icon)
{
    TElementProperties d;
    d.PageGeneral = Txt(41);
    d.PageDetails = Txt(42);
    d.TypeTitle = Txt(43) + ":";
    d.SizeTitle = Txt(44) + ":";
    d.ModifiedTitle = Txt(45) + ":";
    d.CreatedTitle = Txt(46) + ":";
    d.OkCaption = Txt(9);
    const std::string host = ReadRegistryString("Connection", "host", "");
    auto address = [&](const std::string& path) {
        std::string text = host + "/" + path;
        for (char& c : text)
            if (c == '\\')
                c = '/';
        return text;
    };
    const std::string cacheName = grain.GetValue("vCacheName");
    TVirtualFileRecord record;
    if (grain.IsFile) {
        record = ReadRecord(cacheName);
        d.Name = record.Name;
        d.Icon = icon.LoadFileIcon(record.Name);
        d.FullName = address(shl_WithSlash(record.Path) + record.Name);
        d.Type = shl_GetFileTypeName(record.Name);
        d.Size = FormatByteSize(record.Size);
        if (shl_IsImageFile(record.Name)) {
            d.ShowDetails = true;
            const std::string server = ServerPathOf(grain.GetValue("vFilePath"));
            if (!shl_FileExists(ThumbBitmapOf(server)) && CheckMainAppConnection())
                LoadThumbnail(grain.GetValue("vFilePath"), cacheName);
            d.PreviewFile = ThumbBitmapOf(server);
        }
    } else {
        int32_t folders = 0, files = 0;
        int64_t size = 0;
        Storage->CountFolderContents(cacheName, folders, size, files);
        const bool trash = SameText(grain.GetValue("vFilePath"), shl_WithSlash(Env->Cache) + TrashFolderName + "\\");
        d.Trash = trash;
        if (trash && imgFolderIconListBig.Count() > 0)
            icon.Assign(imgFolderIconListBig.GetIconHandle(0));
        else
            icon.LoadFolderIcon(false);
        d.Icon = icon.Handle();
        record = ReadRecord(shl_WithoutSlash(cacheName) + "DIRTMPFILE.DIR");
        d.Name = grain.Name;
        d.FullName = address(record.Path);
        d.Type = Txt(51);
        d.Size = FormatByteSize(size) + " (" + std::to_string(folders) + " " + Txt(55) + ", " + std::to_string(files) +
                 " " + Txt(58) + ")";
    }
    d.Modified = DateTimeToText(record.LastModified);
    d.Created = DateTimeToText(record.CreationDate);
    d.Caption = Txt(86) + " " + d.Name;
    return d;
}

void TvrqmodPermanent::sxVrqProviderPreparePropertySheets(TSxCustomDataGrain& grain, TSxCustomNamespacePropSheet*& sheets)
{
    sheets = nullptr;
    try {
        // The dialog's controls are those of the library's manifest (common controls 6), whatever
        // the host process declares.
        TSxContext context;
        TSystemIcon icon;
        TfrmElementPropertySheet form(ElementPropertiesOf(grain, icon));
        form.ShowModal();
    } catch (const std::exception& e) {
        LogError(std::string("PreparePropertySheets: ") + e.what());
    }
}
