#include "uGLBConst.h"

#include <atomic>
#include <stdexcept>
#include <string>

namespace {
// [German, English]; the numbers are the ones the callers quote. \r\n breaks lines of box texts.
constexpr const char* RawTexts[TextCount][2] = {
    /*   1 */ {"Neuer Ordner",
               "New folder"},
    /*   2 */ {"&Verbinden",
               "&Connect"},
    /*   3 */ {"&Trennen",
               "&Disconnect"},
    /*   4 */ {"&Einblenden",
               "&Show"},
    /*   5 */ {"&Ausblenden",
               "&Hide"},
    /*   6 */ {"Fenster ausblenden und\r\nals Symbol in der Taskleiste\r\ndarstellen.",
               "Hide window and show\r\nsymbol in taskbar."},
    /*   7 */ {"B&eenden",
               "&Close"},
    /*   8 */ {"Anwendung beenden.\r\nDie Verbindung wird getrennt.",
               "Disconnect and close application."},
    /*   9 */ {"&Ok",
               "&Ok"},
    /*  10 */ {"&Ja",
               "&Yes"},
    /*  11 */ {"Ja, &alle",
               "Yes &all"},
    /*  12 */ {"&Nein",
               "&No"},
    /*  13 */ {"Ab&brechen",
               "&Cancel"},
    /*  14 */ {"&Aktualisieren",
               "&Refresh"},
    /*  15 */ {"Verzeichnis auswählen",
               "Choose directory"},
    /*  16 */ {"&Explorer öffnen",
               "Open &explorer"},
    /*  17 */ {"&Sprache",
               "&Language"},
    /*  18 */ {"&Deutsch",
               "&German"},
    /*  19 */ {"&Englisch",
               "&English"},
    /*  20 */ {"Versions&kontrolle",
               "Check &version"},
    /*  21 */ {"Klicken Sie hier, um die aktuelle Version zu erhalten.",
               "Click here to get the new version."},
    /*  22 */ {"Download &starten",
               "&Start download"},
    /*  23 */ {"Klicken Sie hier, um die aktuelle Version zu installieren.",
               "Click here to install the new version."},
    /*  24 */ {"Temporäre Dateien l&öschen",
               "&Delete temporary files"},
    /*  25 */ {"Löscht den Cache. Die Dateien auf dem Server bleiben unberührt.",
               "Deletes cache. Files on server are not deleted."},
    /*  26 */ {"In diesem Verzeichnis speichern",
               "Save file in this directory"},
    /*  27 */ {"E-Mail-Adresse:",
               "E-Mail address:"},
    /*  28 */ {"Dienstepasswort:",
               "Password:"},
    /*  29 */ {"Geben Sie hier bitte Ihre E-Mail-Adresse ein.",
               "Please enter your email address."},
    /*  30 */ {"Geben Sie hier bitte Ihr persönliches\r\nDienstepasswort ein.",
               "Please enter your password."},
    /*  31 */ {"Passwort speichern",
               "Save password"},
    /*  32 */ {"Bei Aktivierung wird Ihr persönliches\r\nKennwort verschlüsselt gespeichert.",
               "Activate to store encrypted password."},
    /*  33 */ {"Mit Windows starten",
               "Start with windows"},
    /*  34 */ {"Bei Aktivierung wird Tandrel Sendrake mit Windows automatisch gestartet.",
               "Tandrel Sendrake will be automatically started with windows when activated."},
    /*  35 */ {"in Ordner \"Gelöschte Dateien\" verschieben",
               "move to folder \"Gelöschte Dateien\""},
    /*  36 */ {"unwiderruflich aus meinem Tandrel Vaultmere löschen",
               "delete permanently from Tandrel Vaultmere"},
    /*  37 */ {"Verbindung",
               "Connection"},
    /*  38 */ {"Allgemeine Daten zum\r\nVerbindungsaufbau.",
               "Data for communication."},
    /*  39 */ {"Info",
               "Info"},
    /*  40 */ {"Nach neuen Versionen suchen.",
               "Check for new versions."},
    /*  41 */ {"Allgemein",
               "General"},
    /*  42 */ {"Details",
               "Details"},
    /*  43 */ {"Typ",
               "Type"},
    /*  44 */ {"Größe",
               "Size"},
    /*  45 */ {"Geändert am",
               "Changed"},
    /*  46 */ {"Erstellt am",
               "Created"},
    /*  47 */ {"Belegter Speicherplatz",
               "Used space"},
    /*  48 */ {"Anzahl Dateien",
               "Number of files"},
    /*  49 */ {"Anzahl Verzeichnisse",
               "Number of folders"},
    /*  50 */ {"Neu",
               "New"},
    /*  51 */ {"Ordner",
               "Folder"},
    /*  52 */ {"Gelöschte Dateien leeren",
               "Empty Gelöschte Dateien"},
    /*  53 */ {"In \"Neue Dateianlagen\" speichern",
               "Save in \"Neue Dateianlagen\""},
    /*  54 */ {"Ordner",
               "Folder"},
    /*  55 */ {"Ordner",
               "Folders"},
    /*  56 */ {"Datei",
               "File"},
    /*  57 */ {"Dateien",
               "Files"},
    /*  58 */ {"Datei(en)",
               "File(s)"},
    /*  59 */ {"Kopie von ",
               "Copy of "},
    /*  60 */ {"Kopie (%s) von ",
               "Copy (%s) of "},
    /*  61 */ {"Ein Ordner mit diesem Namen existiert bereits.",
               "A folder with this name already exists."},
    /*  62 */ {"Der Ordner \"%s\" darf nicht verschoben werden.",
               "The folder \"%s\" cannot be moved."},
    /*  63 */ {"Umbennen nicht möglich, ein Objekt mit diesem Namen existiert bereits.",
               "Renaming not possible. An object with this name already exists."},
    /*  64 */ {"Die Datei \"%s\" konnte nicht kopiert werden!",
               "The file \"%s\" cannot be copied!"},
    /*  65 */ {"Bitte geben Sie Ihre Zugangsdaten ein.",
               "Please enter your account data."},
    /*  66 */ {"Ein Dateiname darf keines der folgenden Zeichen enthalten:\r\n\\/:*?\"<>|",
               "A filename cannot contain any of the following characters:\r\n\\/:*?\"<>|"},
    /*  67 */ {"Modul konnte nicht gestartet werden!",
               "Module could not be started!"},
    /*  68 */ {"Fehler bei der Initialisierung der Anwendung.\r\nFolgende Datei(en) wurde(n) nicht gefunden:\r\n%s\r\nBitte führen Sie Setup erneut aus.",
               "Error while initializing application.\r\nFollowing file(s) not found:\r\n%s\r\nPlease run Setup again."},
    /*  69 */ {"Um den Tandrel Sendrake starten zu können, benötigen Sie Administratorrechte.",
               "Administrator privileges are required to start Tandrel Sendrake"},
    /*  70 */ {"Möchten Sie \"%s\" wirklich löschen?",
               "Do you really want to delete \"%s\"?"},
    /*  71 */ {"Möchten Sie \"%s\" in den Ordner \"Gelöschte Dateien\" verschieben\r\noder unwiderruflich löschen?",
               "Do you want to move \"%s\" to \"Gelöschte Dateien\"\r\nor delete permanently?"},
    /*  72 */ {"Löschen von Dateien bestätigen",
               "Confirm file deletion"},
    /*  73 */ {"Sollen diese %d Elemente wirklich gelöscht werden?",
               "Delete these %d elements?"},
    /*  74 */ {"Sollen diese %d Elemente in den Ordner \"Gelöschte Dateien\" verschoben\r\noder unwiderruflich gelöscht werden?",
               "Should these %d elements in the folder \"Gelöschte Dateien\" be moved,\r\nor deleted permanently?"},
    /*  75 */ {"Löschen von mehreren Dateien bestätigen",
               "Confirm deletion of multiple files."},
    /*  76 */ {"Möchten Sie \"%s\" wirklich löschen?",
               "Do you really want to delete \"%s\"?"},
    /*  77 */ {"Soll der Ordner \"%s\" gelöscht und sein\r\ngesamter Inhalt in den Ordner \"Gelöschte Dateien\" verschoben\r\noder unwiderruflich gelöscht werden?",
               "Should the folder \"%s\" be deleted and its\r\ncontents moved to the folder \"Gelöschte Dateien\"\r\nor should it be deleted permanently?"},
    /*  78 */ {"Löschen von Ordnern bestätigen",
               "Confirm deletion of folders"},
    /*  79 */ {"Dieser Ordner enthält bereits eine Datei \"%s\".\r\n\r\nMöchten Sie die existierende Datei mit dieser ersetzen?",
               "This folder already contains a file named \"%s\".\r\n\r\nDo you want to replace the existing file with this one?"},
    /*  80 */ {"Ersetzen von Dateien bestätigen",
               "Confirm file replace"},
    /*  81 */ {"Dieser Ordner enthält einen Ordner \"%s\". \r\n\r\nDateien im vorhandenen Ordner werden ggf. durch gleichnamige\r\nDateien des verschobenen bzw. kopierten Ordners ersetzt. Soll der \r\nOrdner trotzdem verschoben bzw. kopiert werden?",
               "This folder already contains a folder \"%s\". \r\n\r\nFiles in the existing folder will be replaced with identically\r\nnamed files from the moved/copied folder. Should the\r\nfolder still be moved/copied?"},
    /*  82 */ {"Ersetzen von Ordnern bestätigen",
               "Confirm overwrite folder"},
    /*  83 */ {"Fehler",
               "Error"},
    /*  84 */ {"Dateien werden übertragen...",
               "Processing files..."},
    /*  85 */ {"Dateien werden gelöscht...",
               "Deleting files..."},
    /*  86 */ {"Eigenschaften von",
               "Properties of"},
    /*  87 */ {"Bitte warten...",
               "Please wait..."},
    /*  88 */ {"Cache wird erstellt...",
               "Creating cache..."},
    /*  89 */ {"Thumbnail wird gesucht ",
               "Searching Thumbnail"},
    /*  90 */ {"Verzeichnisse werden eingelesen...",
               "Reading directories..."},
    /*  91 */ {"Ihre Anwendung ist auf dem aktuellen Stand. Ein Update ist nicht erforderlich.",
               "Your application is up-to-date. No update is required."},
    /*  92 */ {"Ihre Anwendung ist nicht auf dem neuesten Stand. Sie haben hier die Möglichkeit, eine aktuelle Version von Tandrel Sendrake von unserem Server herunterzuladen.",
               "Your application is not up-to-date. Here you can download the latest version of Tandrel Sendrake from our server."},
    /*  93 */ {"Ihre Anwendung ist nicht auf dem neuesten Stand. Klicken Sie auf \"Info\" und wählen Sie \"Versionskontrolle\", um die aktuelle Version zu erhalten.",
               "Your application is not up-to-date. Click \"Info\" and select \"Check version\", to get the latest version."},
    /*  94 */ {"Fehler bei der Versionskontrolle. Info-Datei konnte nicht gefunden werden.",
               "Error while checking new version. No version file found."},
    /*  95 */ {"Die Verbindung zum Server ist fehlgeschlagen. Bitte wiederholen Sie diesen Vorgang zu einem späteren Zeitpunkt.",
               "Connection to server failed. Please retry later."},
    /*  96 */ {"Timeout, Verbindung zum Server fehlgeschlagen.",
               "Timeout, Connection to server failed."},
    /*  97 */ {"Verbindung konnte nicht hergestellt werden.\r\nBitte überprüfen Sie den Status Ihrer Onlineverbindung.",
               "Connection failed.\r\nPlease check your internet connection."},
    /*  98 */ {"Verbindung zum Tandrel Vaultmere fehlgeschlagen.",
               "Connection to Tandrel Vaultmere failed."},
    /*  99 */ {"Verbindung zum Tandrel Vaultmere wurde hergestellt",
               "Connected to Tandrel Vaultmere successfully"},
    /* 100 */ {"Verbindung zum Tandrel Vaultmere trennen",
               "Disconnect from Tandrel Vaultmere"},
    /* 101 */ {"Verbindung zum Tandrel Vaultmere wurde getrennt",
               "Disconnected from Tandrel Vaultmere successfully"},
    /* 102 */ {"Verbindung mit dem Tandrel Vaultmere herstellen",
               "Connect to Tandrel Vaultmere"},
    /* 103 */ {"Verbindung konnte nicht hergestellt werden.\r\nBitte überprüfen Sie Ihre Kennung und/oder Passwort.",
               "Connection failed.\r\nPlease check your username or password."},
};

std::atomic<unsigned char> CurrentLanguage{0};

// Built on first use, so that texts are ready for callers in other units' static set-up too.
const std::string (&Texts())[TextCount][2]
{
    static const auto table = [] {
        struct Table { std::string t[TextCount][2]; } built;
        for (int i = 0; i < TextCount; ++i)
            for (int j = 0; j < 2; ++j) built.t[i][j] = RawTexts[i][j];
        return built;
    }();
    return table.t;
}
} // namespace

const char* const OnlineFolderCLSID = "{0738049E-478C-4D6D-B004-A767178A297C}";

const char* const RequiredFiles[5] = {"Sendrake.exe", "Brannock.dll", "msxml4.dll", "msxml4r.dll",
                                      "msxml4a.dll"};

const std::string& Txt(int number, int language)
{
    if (number < 1 || number > TextCount)
        throw std::out_of_range("Txt: no text number " + std::to_string(number));
    return Texts()[number - 1][language == 1 ? 1 : 0];
}

const std::string& Txt(int number)
{
    return Txt(number, CurrentLanguage.load());
}

void SetLanguage(int index)
{
    CurrentLanguage.store(static_cast<unsigned char>(index & 0xFF));
}

int GetLanguage()
{
    return CurrentLanguage.load();
}

std::string FormatTableText(const std::string& format, const std::string& argument)
{
    for (size_t i = 0; i + 1 < format.size(); ++i)
        if (format[i] == '%' && (format[i + 1] == 's' || format[i + 1] == 'd'))
            return format.substr(0, i) + argument + format.substr(i + 2);
    return format;
}
