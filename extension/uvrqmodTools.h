#pragma once
// What the units of the permanent module share: texts in two languages, the busy cursor, and the
// mirror's folders as the handlers make and walk them (through the file tools of uGLBShellTools).
#include <functional>
#include <string>

// A text the table does not hold, in German and English.
std::string Pair(const char* german, const char* english);

// The busy cursor for a scope.
struct TBusyCursor {
    TBusyCursor();
    ~TBusyCursor();
};

// Makes the folder and those above it; a failure is not raised here: the file call that needs the
// folder next fails and reports it in its own terms.
void MakeDirectories(const std::string& folder);
// Every plain file below directory, the files of sub-folders before those beside them.
void ForEachFileBelow(const std::string& directory, const std::function<void(const std::string&)>& fn);
