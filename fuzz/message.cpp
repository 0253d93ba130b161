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
#include "support/message_fields.h"
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
    velk::testing::MessageFields header;
    std::vector<Variable> variables;
    bool operator==(const Fields&) const = default;
};

Fields Read(ISnmpMessage* m) {
    Fields f{velk::testing::ReadMessageFields(m), {}};
    velk::testing::MessageFields& h = f.header;
    if (h.type != snmpTrap1) h.agentAddress.clear();  // the host's, not encoded
    if (h.type != snmpResponse1 && h.type != snmpResponse2) h.exception = h.exceptionIndex = 0;

    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    auto* list = velk::model::SnmpVariables::From(vars.Get());
    for (auto* n = list->Members().Head(); n; n = n->next) {
        velk::model::SnmpVariable* v = n->value.own;
        if (!v) Fail("a decoded variable is not ours");
        Bstr value;
        v->get_Value(value.Put());
        f.variables.push_back({std::u16string(v->OidView()), std::u16string(value.View()), v->TypeValue(), v->ExceptionValue(),
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
