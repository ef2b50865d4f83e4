#pragma once
// Every user-visible text as a pair German / English, picked by one process-wide language index.
#include <string>

// Text pair `number` (1..103) at the current language; out-of-range numbers raise std::out_of_range.
const std::string& Txt(int number);
// Text pair `number` at an explicit language (0 German, 1 English; anything else German).
const std::string& Txt(int number, int language);
constexpr int TextCount = 103;

// Keeps the low byte of `index`. Only 0 (German) and 1 (English) have texts; any other index
// reads German.
void SetLanguage(int index);
int GetLanguage();

// Fills the first "%s" or "%d" of a text (a name or a number); the argument is never read as a
// format. Every text that takes one goes through here before the user sees it.
std::string FormatTableText(const std::string& format, const std::string& argument);

// The files the tray program needs in its install folder, in the order it reports them.
extern const char* const RequiredFiles[5];

// The braced CLSID of the online folder: the shell extension registers its junction under it, the
// tray program opens and refreshes Explorer on it.
extern const char* const OnlineFolderCLSID;
