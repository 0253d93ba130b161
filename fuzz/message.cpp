// Decode of arbitrary bytes: a message or error 12015 (or a creation error), never a crash,
// a read outside the bytes or a leak. A message that decodes is encoded and decoded again
// and must give the same fields (error-status and error-index only where the encoding
// carries them, in a Response), and encoding it twice more gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "codec/message.h"
#include "model/variable.h"
#include "velk/com.h"

namespace {

using velk::Bstr;
using velk::ComPtr;

constexpr HRESULT kFormatError = static_cast<HRESULT>(0x800A2EEFu);

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "message fuzz target: %s\n", what);
    std::abort();
}

struct Variable {
    std::u16string oid, value;
    LONG type, exception;
    VARIANT_BOOL repeat;
    VARTYPE store;
    bool operator==(const Variable&) const = default;
};

struct Fields {
    LONG type, id, exception, exceptionIndex, maxRepetition, generic, specific, upTime;
    std::u16string community, enterprise, agentAddress;
    std::vector<Variable> variables;
    bool operator==(const Fields&) const = default;
};

std::u16string Text(BSTR s) { return s ? std::u16string(s, SysStringLen(s)) : std::u16string(); }

Fields Read(ISnmpMessage* m) {
    Fields f{};
    TypeConstants type{};
    ExceptionConstants exception{};
    TrapConstants generic{};
    m->get_Type(&type);
    m->get_Exception(&exception);
    m->get_GenericTrap(&generic);
    f.type = type;
    f.exception = exception;
    f.generic = generic;
    m->get_Id(&f.id);
    m->get_ExceptionIndex(&f.exceptionIndex);
    m->get_MaxRepetition(&f.maxRepetition);
    m->get_SpecificTrap(&f.specific);
    m->get_UpTime(&f.upTime);
    Bstr community, enterprise, address;
    m->get_Community(community.Put());
    m->get_Enterprise(enterprise.Put());
    m->get_AgentAddress(address.Put());
    f.community = Text(community.Get());
    f.enterprise = Text(enterprise.Get());
    if (f.type == snmpTrap1) f.agentAddress = Text(address.Get());  // else the host's
    if (f.type != snmpResponse1 && f.type != snmpResponse2) f.exception = f.exceptionIndex = 0;

    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    auto* list = velk::model::SnmpVariables::From(vars.Get());
    for (auto* n = list->Members().Head(); n; n = n->next) {
        velk::model::SnmpVariable* v = n->value.own;
        if (!v) Fail("a decoded variable is not ours");
        Bstr value;
        v->get_Value(value.Put());
        f.variables.push_back({std::u16string(v->OidView()), Text(value.Get()), v->TypeValue(), v->ExceptionValue(),
                               v->RepeatValue(), v->ValueStore().vt});
    }
    return f;
}

std::vector<uint8_t> Encode(ISnmpMessage* m) {
    std::span<const uint8_t> bytes;
    if (velk::codec::SnmpMessage::From(m)->EncodeBytes(&bytes) != S_OK) Fail("Encode failed");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Two messages for the whole run, as a control keeps one and decodes every datagram into it.
ISnmpMessage* Message(int which) {
    static ComPtr<ISnmpMessage> messages[2];
    if (!messages[which] &&
        velk::codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, messages[which].PutVoid()) != S_OK)
        Fail("create");
    return messages[which].Get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ISnmpMessage* message = Message(0);

    // Through a byte-array VARIANT, as hosts and the controls pass datagrams.
    VARIANT input;
    VariantInit(&input);
    input.vt = VT_ARRAY | VT_UI1;
    input.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (size) std::memcpy(input.parray->pvData, data, size);
    const HRESULT hr = message->Decode(input);
    VariantClear(&input);
    if (hr != S_OK) {
        if (hr != kFormatError) Fail("Decode gave neither a message nor 12015");
        return 0;
    }

    const Fields first = Read(message);
    const std::vector<uint8_t> encoded = Encode(message);
    // Encoding again (the second and third time from the variables' encoding cache) gives
    // the same bytes.
    if (Encode(message) != encoded || Encode(message) != encoded) Fail("encodings differ");

    ISnmpMessage* again = Message(1);
    if (velk::codec::SnmpMessage::From(again)->DecodeBytes(encoded) != S_OK) Fail("re-decode failed");
    if (!(Read(again) == first)) Fail("re-decoded fields differ");
    return 0;
}
