#include "kqutility/foundation/KQUURL.h"

namespace kqu {

namespace {

struct Parts {
    std::optional<std::string_view> scheme, authority, query, fragment;
    std::string_view path;
};

// Splits a reference as RFC 3986 appendix B does; never fails.
Parts split(std::string_view s) {
    Parts parts;
    size_t i = s.find_first_of(":/?#");
    if (i != std::string_view::npos && s[i] == ':' && i > 0) {
        parts.scheme = s.substr(0, i);
        s.remove_prefix(i + 1);
    }
    if (s.starts_with("//")) {
        size_t end = s.find_first_of("/?#", 2);
        if (end == std::string_view::npos) end = s.size();
        parts.authority = s.substr(2, end - 2);
        s.remove_prefix(end);
    }
    size_t hash = s.find('#');
    if (hash != std::string_view::npos) {
        parts.fragment = s.substr(hash + 1);
        s = s.substr(0, hash);
    }
    size_t question = s.find('?');
    if (question != std::string_view::npos) {
        parts.query = s.substr(question + 1);
        s = s.substr(0, question);
    }
    parts.path = s;
    return parts;
}

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(char c) { return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos; }

// Characters of s are pchars, "%" escapes or one of extra.
bool validText(std::string_view s, std::string_view extra) {
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '%') {
            if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
            i += 2;
        } else if (!isUnreserved(c) && !isSubDelim(c) && extra.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// userinfo@host:port with the port's digits and an IP literal host in brackets.
bool validAuthority(std::string_view a) {
    size_t at = a.rfind('@');
    if (at != std::string_view::npos) {
        if (!validText(a.substr(0, at), ":")) return false;
        a.remove_prefix(at + 1);
    }
    std::string_view port;
    if (a.starts_with('[')) {
        size_t close = a.find(']');
        if (close == std::string_view::npos) return false;
        if (!validText(a.substr(1, close - 1), ":")) return false;
        std::string_view rest = a.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            port = rest.substr(1);
        }
    } else {
        size_t colon = a.rfind(':');
        if (colon != std::string_view::npos) {
            port = a.substr(colon + 1);
            a = a.substr(0, colon);
        }
        if (!validText(a, "")) return false;
    }
    for (char c : port)
        if (!isDigit(c)) return false;
    return true;
}

std::string removeDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) input.remove_prefix(3);
        else if (input.starts_with("./")) input.remove_prefix(2);
        else if (input.starts_with("/./")) input.remove_prefix(2);
        else if (input == "/.") input = "/";
        else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            size_t last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") input = {};
        else {
            size_t next = input.find('/', 1);
            if (next == std::string_view::npos) next = input.size();
            output.append(input.substr(0, next));
            input.remove_prefix(next);
        }
    }
    return output;
}

std::string compose(const Parts& p, std::string_view path) {
    std::string s;
    if (p.scheme) s.append(*p.scheme).push_back(':');
    if (p.authority) s.append("//").append(*p.authority);
    s.append(path);
    if (p.query) s.append("?").append(*p.query);
    if (p.fragment) s.append("#").append(*p.fragment);
    return s;
}

}  // namespace

bool KQUURL::isValidURLString(std::string_view text) {
    Parts p = split(text);
    if (p.scheme) {
        if (!isAlpha((*p.scheme)[0])) return false;
        for (char c : *p.scheme)
            if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    if (p.authority && !validAuthority(*p.authority)) return false;
    // Without a scheme, a first path segment holding ":" would read as one.
    if (!p.scheme && !p.authority && p.path.substr(0, p.path.find('/')).find(':') != std::string_view::npos)
        return false;
    return validText(p.path, ":@/") && (!p.query || validText(*p.query, ":@/?")) &&
           (!p.fragment || validText(*p.fragment, ":@/?"));
}

std::optional<KQUURL> KQUURL::fromString(std::string_view text) {
    if (!isValidURLString(text)) return std::nullopt;
    KQUURL url;
    url.mRelative = std::string(text);
    url.mAbsolute = url.mRelative;
    return url;
}

std::optional<KQUURL> KQUURL::fromString(std::string_view text, const KQUURL& base) {
    if (!isValidURLString(text)) return std::nullopt;
    Parts b = split(base.mAbsolute);
    if (!b.scheme) return std::nullopt;
    Parts r = split(text), t;
    std::string path;
    if (r.scheme) {
        t = r;
        path = removeDotSegments(r.path);
    } else {
        t.scheme = b.scheme;
        if (r.authority) {
            t.authority = r.authority;
            path = removeDotSegments(r.path);
            t.query = r.query;
        } else {
            t.authority = b.authority;
            if (r.path.empty()) {
                path = b.path;
                t.query = r.query ? r.query : b.query;
            } else {
                if (r.path.starts_with('/')) {
                    path = removeDotSegments(r.path);
                } else {
                    std::string merged;
                    if (b.authority && b.path.empty()) merged = "/";
                    else merged = std::string(b.path.substr(0, b.path.rfind('/') + 1));
                    merged.append(r.path);
                    path = removeDotSegments(merged);
                }
                t.query = r.query;
            }
        }
        t.fragment = r.fragment;
    }
    KQUURL url;
    url.mRelative = std::string(text);
    url.mAbsolute = compose(t, path);
    url.mHasBase = true;
    return url;
}

namespace {

std::optional<std::string> owned(std::optional<std::string_view> part) {
    return part ? std::optional<std::string>(*part) : std::nullopt;
}

// The host and the port text of an authority ("user@host:port", "[v6]:port").
std::pair<std::string_view, std::optional<std::string_view>> hostAndPort(std::string_view authority) {
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    size_t colon = authority.starts_with('[') ? authority.find(':', authority.find(']')) : authority.rfind(':');
    if (colon == std::string_view::npos) return {authority, std::nullopt};
    return {authority.substr(0, colon), authority.substr(colon + 1)};
}

}  // namespace

std::optional<std::string> KQUURL::scheme() const { return owned(split(mAbsolute).scheme); }
std::optional<std::string> KQUURL::authority() const { return owned(split(mAbsolute).authority); }
std::optional<std::string> KQUURL::host() const {
    auto a = split(mAbsolute).authority;
    return a ? std::optional<std::string>(hostAndPort(*a).first) : std::nullopt;
}
std::optional<std::string> KQUURL::port() const {
    auto a = split(mAbsolute).authority;
    return a ? owned(hostAndPort(*a).second) : std::nullopt;
}
std::string KQUURL::path() const { return std::string(split(mAbsolute).path); }
std::optional<std::string> KQUURL::query() const { return owned(split(mAbsolute).query); }
std::optional<std::string> KQUURL::fragment() const { return owned(split(mAbsolute).fragment); }

}  // namespace kqu
