#include "common.h"

#include <cstdio>

namespace vs {

std::string ErrorText(HRESULT hr) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) == S_OK && info) {
        BSTR d = nullptr;
        info->GetDescription(&d);
        std::string text = A(d);
        // Compiler messages come as "prefix:\r\nfile(line) - message": keep them on one line.
        std::string line;
        for (char c : text) {
            if (c == '\r') continue;
            if (c == '\n') {
                if (!line.empty() && line.back() != ' ') line += ' ';
                continue;
            }
            line += c;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty()) return line;
    }
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "error %d (0x%08X)", ErrorNumber(hr), static_cast<unsigned>(hr));
    return buffer;
}

void Check(HRESULT hr, const std::string& what) {
    if (SUCCEEDED(hr)) return;
    Fail(what + ": " + ErrorText(hr));
}

std::vector<std::string> Texts(IVelkStrings* strings) {
    std::vector<std::string> out;
    if (!strings) return out;
    LONG n = 0;
    strings->get_Count(&n);
    for (LONG i = 1; i <= n; ++i) {
        BSTR s = nullptr;
        if (SUCCEEDED(strings->get_Item(i, &s))) out.push_back(A(s));
    }
    return out;
}

std::string ValueBytes(ISnmpVariable* v) {
    Variant value;
    if (FAILED(v->get_ValueEx(&value))) return {};
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray) return {};
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(value.parray, 1, &lo);
    SafeArrayGetUBound(value.parray, 1, &hi);
    std::string out;
    void* data = nullptr;
    if (hi >= lo && SUCCEEDED(SafeArrayAccessData(value.parray, &data))) {
        out.assign(static_cast<const char*>(data), static_cast<size_t>(hi - lo + 1));
        SafeArrayUnaccessData(value.parray);
    }
    return out;
}

std::vector<std::string> Split(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t p = s.find(sep, start);
        out.emplace_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
        if (p == std::string_view::npos) break;
        start = p + 1;
    }
    return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

bool ParseInt(std::string_view s, long long lo, long long hi, long long* out) {
    if (s.empty()) return false;
    bool negative = false;
    size_t i = 0;
    if (s[0] == '-' || s[0] == '+') {
        negative = s[0] == '-';
        i = 1;
    }
    if (i == s.size()) return false;
    unsigned long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + static_cast<unsigned>(s[i] - '0');
        if (v > (1ULL << 62)) return false;
    }
    const long long r = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    if (r < lo || r > hi) return false;
    *out = r;
    return true;
}

bool ParseUnsigned64(std::string_view s, uint64_t* out) {
    if (s.empty() || s.size() > 20) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    *out = v;
    return true;
}

bool IsNumericOid(std::string_view s) {
    if (s.empty()) return false;
    size_t digits = 0;
    uint64_t arc = 0;
    for (char c : s) {
        if (c == '.') {
            if (digits == 0) return false;
            digits = 0;
            arc = 0;
        } else if (c >= '0' && c <= '9') {
            ++digits;
            arc = arc * 10 + static_cast<uint64_t>(c - '0');
            if (arc > 0xFFFFFFFFULL) return false;
        } else {
            return false;
        }
    }
    return digits > 0;
}

bool OidUnder(std::string_view child, std::string_view parent) {
    if (parent.empty()) return true;
    if (!StartsWith(child, parent)) return false;
    return child.size() == parent.size() || child[parent.size()] == '.';
}

int CompareOid(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        size_t ei = a.find('.', i), ej = b.find('.', j);
        if (ei == std::string_view::npos) ei = a.size();
        if (ej == std::string_view::npos) ej = b.size();
        // Numbers without leading zeros: the longer one is greater.
        std::string_view x = a.substr(i, ei - i), y = b.substr(j, ej - j);
        while (x.size() > 1 && x[0] == '0') x.remove_prefix(1);
        while (y.size() > 1 && y[0] == '0') y.remove_prefix(1);
        if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
        if (const int c = x.compare(y); c != 0) return c < 0 ? -1 : 1;
        i = ei + 1;
        j = ej + 1;
    }
    const bool aDone = i >= a.size(), bDone = j >= b.size();
    if (aDone && bDone) return 0;
    return aDone ? -1 : 1;
}

}  // namespace vs
