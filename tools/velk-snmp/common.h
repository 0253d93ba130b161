// Shared helpers of velk-snmp: failures with exit statuses, text conversion, object
// creation and the results of automation calls.
#pragma once

#include <velk/snmp.h>
#include <velk/sock.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vs {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // no answer, an error status from the agent, a MIB that fails
constexpr int kExitUsage = 2;

// A failure that ends the command: one line of text and the exit status.
struct Failure : std::runtime_error {
    Failure(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

[[noreturn]] inline void Usage(const std::string& message) { throw Failure(kExitUsage, message); }
[[noreturn]] inline void Fail(const std::string& message) { throw Failure(kExitFailed, message); }

// Texts cross the automation boundary through the ANSI code page (ISO-8859-1), so every
// byte of a command-line argument or a value survives unchanged.
inline Bstr B(std::string_view s) { return Bstr::FromAnsi(s); }
inline std::string A(BSTR s) { return Bstr::Adopt(s).ToAnsi(); }

// The error number of a failing HRESULT (its low 16 bits).
inline int ErrorNumber(HRESULT hr) { return static_cast<int>(static_cast<uint32_t>(hr) & 0xFFFF); }

// The description that the failing call left in the thread's error information, or a
// fallback naming the HRESULT.
std::string ErrorText(HRESULT hr);

// Throws Failure(kExitFailed) with "`what`: <description>" when `hr` failed.
void Check(HRESULT hr, const std::string& what);

// A new object of one of the library's classes.
template <class I>
ComPtr<I> Create(const CLSID& clsid) {
    ComPtr<I> p;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, velk::IidOf<I>(), p.PutVoid());
    Check(hr, "cannot create an object of the library");
    return p;
}

// Every member of a collection with _NewEnum, as interface pointers, in enumeration order.
template <class I, class Collection>
std::vector<ComPtr<I>> Members(Collection* collection) {
    std::vector<ComPtr<I>> out;
    ComPtr<IUnknown> unknown;
    if (FAILED(collection->get__NewEnum(unknown.Put())) || !unknown) return out;
    ComPtr<IEnumVARIANT> en;
    if (FAILED(unknown.As(&en))) return out;
    VARIANT items[64];
    for (;;) {
        ULONG fetched = 0;
        const HRESULT hr = en->Next(64, items, &fetched);
        for (ULONG i = 0; i < fetched; ++i) {
            if (items[i].vt == VT_DISPATCH && items[i].pdispVal) {
                ComPtr<I> p;
                if (SUCCEEDED(items[i].pdispVal->QueryInterface(velk::IidOf<I>(), p.PutVoid())))
                    out.push_back(std::move(p));
            }
            VariantClear(&items[i]);
        }
        if (hr != S_OK || fetched == 0) break;
    }
    return out;
}

// Every text of a string collection.
std::vector<std::string> Texts(IVelkStrings* strings);

// The bytes of a variable's value (ValueEx), whatever form the value store has.
std::string ValueBytes(ISnmpVariable* v);

// Small text helpers.
std::vector<std::string> Split(std::string_view s, char sep);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);
std::string Trim(std::string_view s);
// A whole decimal number in [lo, hi]; false for anything else.
bool ParseInt(std::string_view s, long long lo, long long hi, long long* out);
bool ParseUnsigned64(std::string_view s, uint64_t* out);
// Dotted-decimal OID text without a leading dot; false when `s` is not one.
bool IsNumericOid(std::string_view s);
// `child` equals `parent` or lies below it (arc boundaries respected).
bool OidUnder(std::string_view child, std::string_view parent);
// -1, 0 or 1 by SNMP order (arc by arc, numerically).
int CompareOid(std::string_view a, std::string_view b);

}  // namespace vs
