#include "SxStatusBar.h"

std::string TSxPart::DisplayName() const { return Text.empty() ? "TSxPart" : Text; }
