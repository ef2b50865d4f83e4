#pragma once
// What the units of the permanent module share: texts in two languages, the busy cursor, and the
// file and path helpers of the mirror's places.
#include <functional>
#include <string>

// A text the table does not hold, in German and English.
std::string Pair(const char* german, const char* english);

// The busy cursor for a scope.
struct TBusyCursor {
    TBusyCursor();
    ~TBusyCursor();
};

std::string WithSlash(const std::string& path);
std::string FolderPartOf(const std::string& path);
std::string NamePartOf(const std::string& path);
bool FileThere(const std::string& name);
bool DirectoryThere(const std::string& name);
void MakeDirectories(const std::string& folder);
// Every plain file below directory (with final "\"), sub-directories first walked.
void ForEachFileBelow(const std::string& directory, const std::function<void(const std::string&)>& fn);
