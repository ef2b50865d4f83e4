#pragma once
// Reading a whole local file in the tests: the one helper every test uses for it.
#include "uGLBWin.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

// The file's bytes; raises when it cannot be read, so a missing file never reads as empty.
inline std::string ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + WideToUtf8(path.wstring()));
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The same for a UTF-8 file name.
inline std::string ReadFileBytes(const std::string& utf8Name)
{
    return ReadFileBytes(std::filesystem::path(Utf8ToWide(utf8Name)));
}
