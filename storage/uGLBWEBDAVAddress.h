#pragma once
// Addresses of the storage server: each path segment percent-encoded as UTF-8 below the host setting,
// which may carry a base path ("http://server/dav"); and the hrefs of a listing made relative to it.
// Pure routines, built natively too.
#include <string>

// Percent-encodes every byte except the RFC 3986 unreserved characters.
std::string EncodeURLSegment(const std::string& segment);
// "Fotos\a b.jpg" -> "Fotos/a%20b.jpg"; a final "\" stays as a final "/".
std::string EncodeURLPath(const std::string& path);
// host alone for "", else host + "/" + EncodeURLPath(path).
std::string BuildURLOf(const std::string& host, const std::string& path);
// host + "/" + folder part + ".thumb/" + name + ".thumb.jpg", encoded.
std::string BuildThumbURLOf(const std::string& host, const std::string& path);
// The path of an address ("http://h:1/dav/x?y" -> "/dav/x"); a text starting with "/" is a path already.
std::string URLPathOf(const std::string& url);
// An href of a listing made relative to the base path of the host, still percent-encoded:
// "/dav/Fotos/a%20b.jpg" with base "/dav" gives "Fotos/a%20b.jpg", "/dav/" gives "". False (reason in
// error) when the href lies outside the base path. Absolute URLs are accepted; the comparison is made
// on the decoded segments, so "%7e" and "~" compare equal. A raw "#" or "?" is part of the path.
bool RelativeHref(const std::string& href, const std::string& basePath, std::string& relative,
                  std::string& error);
