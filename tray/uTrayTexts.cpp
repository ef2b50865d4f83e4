#include "uTrayTexts.h"

#include "uGLBConst.h"

namespace {
const std::string Texts[][2] = {
    {"Die Shell-Erweiterung konnte nicht registriert werden.\r\nBitte führen Sie Setup erneut aus.",
     "The shell extension could not be registered.\r\nPlease run Setup again."},
    {"Die Datei \"%s\" konnte nicht auf den Server übertragen werden.\r\nIhre Änderungen bleiben in der Datei; bitte speichern Sie sie später erneut.",
     "The file \"%s\" could not be sent to the server.\r\nYour changes stay in the file; please save it again later."},
    {"Geänderte Dokumente konnten nicht übertragen werden und bleiben erhalten in:\r\n%s",
     "Changed documents could not be sent and are kept in:\r\n%s"},
    {"Geänderte Dokumente wurden vor dem Trennen übertragen.",
     "Changed documents were sent before disconnecting."},
    {"Die Verzeichnisse konnten nicht aktualisiert werden.\r\nDie bisherige Ansicht bleibt erhalten.",
     "The folders could not be refreshed.\r\nThe previous view is kept."},
    {"Der Explorer konnte nicht gestartet werden.",
     "Explorer could not be started."},
    {"Versionsdownload", "Versionsdownload"},
    {"Version: ", "Version: "},
    {"Der Download der neuen Version ist fehlgeschlagen oder unvollständig.",
     "The download of the new version failed or is incomplete."},
};
} // namespace

const std::string& TrayTxt(TTrayText text, int language)
{
    return Texts[static_cast<int>(text)][language == 1 ? 1 : 0];
}

std::string ReplaceCR(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c == '\r')
            c = ' ';
    return out;
}

std::string FormatText(const std::string& format, const std::string& value)
{
    return FormatTableText(format, value);
}
