#include "uGLBWEBDAVAddress.h"

#include "uTUrl.h"

#include <cctype>
#include <vector>

std::string EncodeURLSegment(const std::string& segment) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(segment.size() * 3);
    for (unsigned char c : segment) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string EncodeURLPath(const std::string& path) {
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t sep = path.find_first_of("\\/", start);
        out += EncodeURLSegment(path.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        out += '/';
        start = sep + 1;
    }
    return out;
}

std::string BuildURLOf(const std::string& host, const std::string& path) {
    if (path.empty()) return host;
    return host + "/" + EncodeURLPath(path);
}

std::string BuildThumbURLOf(const std::string& host, const std::string& path) {
    const size_t sep = path.find_last_of('\\');
    const std::string folder = sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
    const std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
    return host + "/" + EncodeURLPath(folder + ".thumb\\" + name + ".thumb.jpg");
}

namespace {

// Everything after scheme and server ("http://h:1/dav/x?y" -> "/dav/x?y").
std::string AfterAuthority(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const size_t slash = url.find('/', scheme + 3);
    return slash == std::string::npos ? std::string() : url.substr(slash);
}

}  // namespace

std::string URLPathOf(const std::string& url) {
    std::string path = AfterAuthority(url);
    const size_t query = path.find_first_of("?#");
    if (query != std::string::npos) path.erase(query);
    return path;
}

namespace {

std::vector<std::string> SplitSlash(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t sep = path.find('/', start);
        parts.push_back(path.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    return parts;
}

}  // namespace

bool RelativeHref(const std::string& href, const std::string& basePath, std::string& relative,
                  std::string& error) {
    // An href names a resource: a "#" or "?" in it (some servers send them raw) is part of the name.
    const std::string path = AfterAuthority(href);
    if (path.empty() || path[0] != '/') {
        error = "href is no absolute path: \"" + href + "\"";
        return false;
    }
    std::vector<std::string> base = SplitSlash(basePath);   // "/dav" -> "", "dav"
    while (!base.empty() && base.back().empty()) base.pop_back();
    std::vector<std::string> parts = SplitSlash(path);      // "/dav/a/" -> "", "dav", "a", ""
    try {
        for (size_t i = 1; i < base.size(); ++i) {
            if (i >= parts.size() || URLDecode(parts[i]) != URLDecode(base[i])) {
                error = "href outside the base path \"" + basePath + "\": \"" + href + "\"";
                return false;
            }
        }
    } catch (const EURLDecode& e) {
        error = std::string(e.what()) + " \"" + href + "\"";
        return false;
    }
    const size_t skip = base.empty() ? 1 : base.size();
    relative.clear();
    for (size_t i = skip; i < parts.size(); ++i) {
        if (i > skip) relative += '/';
        relative += parts[i];
    }
    return true;
}

