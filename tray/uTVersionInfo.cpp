#include "uTVersionInfo.h"

#include "uGLBVersion.h"

#include <cctype>
#include <cstdint>
#include <vector>

const char* const SendrakeVersion = SX_VERSION_TEXT;
const char* const NoVersion = "FNIL";

std::string GetXMLTagValue(const std::string& text, const std::string& tag)
{
    const std::string open = "<" + tag + ">";
    const size_t at = text.find(open);
    if (at == std::string::npos)
        return NoVersion;
    std::string rest = text.substr(at + open.size());
    const size_t end = rest.find("</" + tag + ">");
    if (end != std::string::npos)
        rest.resize(end);
    return rest;
}

void TVersionInfo::Parse(const std::string& text)
{
    System = GetXMLTagValue(text, "system");
    Language = GetXMLTagValue(text, "language");
    Version = GetXMLTagValue(text, "version");
    Requirement = GetXMLTagValue(text, "requirement");
}

namespace {
// The dot-separated numbers of a version text; the digits at the start of each part count (a part
// without any is 0), and a number too large to hold stays at its largest value.
std::vector<uint64_t> Numbers(const std::string& text)
{
    std::vector<uint64_t> numbers;
    size_t i = 0;
    for (;;) {
        uint64_t n = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            n = n > (UINT64_MAX - 9) / 10 ? UINT64_MAX : n * 10 + uint64_t(text[i] - '0');
            ++i;
        }
        numbers.push_back(n);
        const size_t dot = text.find('.', i);
        if (dot == std::string::npos)
            break;
        i = dot + 1;
    }
    while (!numbers.empty() && numbers.back() == 0)
        numbers.pop_back();
    return numbers;
}
} // namespace

int CompareVersion(const std::string& version, const std::string& own)
{
    if (version == NoVersion)
        return -1;
    std::string s = version;
    char prefix = 'U';
    if (!s.empty() && !std::isdigit(static_cast<unsigned char>(s[0]))) {
        prefix = s[0];
        s.erase(0, 1);
    }
    if (Numbers(s) <= Numbers(own))   // lexicographic over the numbers, trailing zeros dropped
        return 0;
    return prefix == 'F' ? 2 : 1;
}

int CompareVersion(const std::string& version)
{
    return CompareVersion(version, SendrakeVersion);
}
