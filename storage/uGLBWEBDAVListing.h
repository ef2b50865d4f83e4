#pragma once
// The multistatus answer of a listing read into its responses, and the swap of a freshly built
// mirror folder for the mirror.
#include "uTVirtualFileStorage.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The responses of a multistatus document in document order, hrefs as sent. `pump` runs after each
// response; it returns false to stop (cancel). False with the reason in error for a document that is
// no complete, well-formed multistatus, holds a DOCTYPE, or lists nothing.
bool ReadMultistatus(const std::string& xml, std::vector<std::pair<std::string, TListingEntry>>& responses,
                     std::string& error, const std::function<bool()>& pump);

bool FolderExists(const std::string& dir);

// Puts the folder fresh in the place of the mirror folder cache; the old mirror goes. Raises when
// the old mirror cannot be moved aside or fresh cannot take its place (the old mirror then stays).
void SwapInMirror(const std::string& fresh, const std::string& cache);
