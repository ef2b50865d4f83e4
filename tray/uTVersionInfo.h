#pragma once
// The version file of the update server and the comparison with the program's own version.
#include <string>

// The program's own version.
extern const char* const SendrakeVersion;   // SX_VERSION_TEXT of uGLBVersion.h
// What the check gives when no version could be read.
extern const char* const NoVersion;         // "FNIL"

// The text between "<tag>" and the next "</tag>" (to the end when there is none); "FNIL" when the
// opening tag does not occur. Nothing is trimmed.
std::string GetXMLTagValue(const std::string& text, const std::string& tag);

class TVersionInfo {
public:
    void Parse(const std::string& text);
    std::string System, Language, Version, Requirement;
};

// -1 no version ("FNIL"), 0 not newer than the own version, 1 newer, 2 newer and forced (prefix
// "F"). A leading non-digit is the prefix ("U" when the text starts with a digit). The numbers are
// compared one by one ("1.10" is newer than "1.9"); missing numbers count as 0.
int CompareVersion(const std::string& version);
int CompareVersion(const std::string& version, const std::string& own);
