// SnmpMessage: one SNMP v1 or v2c message (header, PDU fields and variable bindings) with
// its BER encoding and decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/ber_writer.h"
#include "model/variables.h"
#include "runtime/object.h"
#include "velk/snmp.h"
#include "velk/sock.h"

namespace velk::codec {

// Private interface identity answered only by SnmpMessage (see SnmpMessage::From).
// {C4E1A7D2-58B3-4F06-9A1E-3D7B62F0E815}
inline constexpr IID IID_SnmpMessageImpl = {0xc4e1a7d2, 0x58b3, 0x4f06, {0x9a, 0x1e, 0x3d, 0x7b, 0x62, 0xf0, 0xe8, 0x15}};

// What the encoder keeps between encodings.
struct EncoderState {
    BerBuffer buffer;
    std::vector<model::SnmpVariables::Member> members;  // the variables being encoded
    std::vector<uint8_t> bytes;                         // text converted to bytes
};

// Error number of every malformed message (and of an Encode target that holds no bytes).
inline constexpr LONG kFormatError = 12015;

class SnmpMessage final : public rt::Object<SnmpMessage, rt::Dual<ISnmpMessage>,
                                            rt::SupportErrorInfo<ISnmpMessage>> {
    using Base = rt::Object<SnmpMessage, rt::Dual<ISnmpMessage>, rt::SupportErrorInfo<ISnmpMessage>>;
    friend Base;

public:
    SnmpMessage();

    // ISnmpMessage. Properties store any value unchanged and never fail (E_POINTER for a
    // null out pointer, E_OUTOFMEMORY when a copy cannot be made). Text getters return a
    // copy (null stays null); Community and Enterprise store null for an empty text.
    STDMETHOD(get_Community)(BSTR* out) override;
    STDMETHOD(put_Community)(BSTR value) override;
    STDMETHOD(get_Exception)(ExceptionConstants* out) override;
    STDMETHOD(put_Exception)(ExceptionConstants value) override;
    STDMETHOD(get_ExceptionIndex)(LONG* out) override;
    STDMETHOD(put_ExceptionIndex)(LONG value) override;
    STDMETHOD(get_Id)(LONG* out) override;
    STDMETHOD(put_Id)(LONG value) override;
    STDMETHOD(get_MaxRepetition)(LONG* out) override;
    STDMETHOD(put_MaxRepetition)(LONG value) override;
    // Free storage for the host. Put stores a copy of the value (a by-reference VARIANT is
    // followed; a reference that cannot be followed stores VT_EMPTY); get returns a copy.
    STDMETHOD(get_Ref)(VARIANT* out) override;
    STDMETHOD(put_Ref)(VARIANT value) override;
    STDMETHOD(get_Type)(TypeConstants* out) override;
    STDMETHOD(put_Type)(TypeConstants value) override;
    STDMETHOD(get_Enterprise)(BSTR* out) override;
    STDMETHOD(put_Enterprise)(BSTR value) override;
    STDMETHOD(get_GenericTrap)(TrapConstants* out) override;
    STDMETHOD(put_GenericTrap)(TrapConstants value) override;
    STDMETHOD(get_SpecificTrap)(LONG* out) override;
    STDMETHOD(put_SpecificTrap)(LONG value) override;
    STDMETHOD(get_UpTime)(LONG* out) override;
    STDMETHOD(put_UpTime)(LONG value) override;
    // The message's own collection (Sorted false at creation); the same object every time.
    STDMETHOD(get_Variables)(ISnmpVariables** out) override;
    // Resets the message, then fills it from the bytes of `message` (a byte array, a single
    // byte, or text through the ANSI code page; VARIANT references are followed). Malformed
    // bytes, or a VARIANT that gives none: 0x800A2EEF (12015) with the error record, the
    // message keeping what was read before the failing check. A variable that cannot be
    // allocated ends the parse with E_OUTOFMEMORY (variables are made without the class's
    // creation-failure seam, as NewSnmpVariable).
    STDMETHOD(Decode)(VARIANT message) override;
    // Writes the BER encoding into `message`: a byte array is replaced by a new array of
    // exactly the encoding (one that already has exactly that shape is written in place),
    // text receives the bytes as text, a single byte the first byte, an empty VARIANT a new
    // byte array. A null pointer or a VARIANT of any other type: 0x800A2EEF (12015) with the error
    // record, `message` unchanged. Changes no property and no variable.
    STDMETHOD(Encode)(VARIANT* message) override;
    // Back to the reset values; AgentAddress takes the host's address. Always succeeds.
    STDMETHOD(Reset)() override;
    STDMETHOD(get_AgentAddress)(BSTR* out) override;
    STDMETHOD(put_AgentAddress)(BSTR value) override;

    // Object map entry: a new message answering `iid`. Fails with the creation error of the
    // class (seam), of its host-information object or of its collection.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Our message behind an ISnmpMessage, or null for a host object. Borrowed.
    static SnmpMessage* From(ISnmpMessage* message);

    // ---- Fast surface for the controls ----
    // Decode of the bytes themselves; same results and error record as Decode.
    HRESULT DecodeBytes(std::span<const uint8_t> bytes);
    // Encodes into the message's own buffer and gives the bytes, valid until the next
    // encoding or the message's end. E_OUTOFMEMORY when memory runs out; E_UNEXPECTED when
    // called from inside an Encode of the same message (by a host variable).
    HRESULT EncodeBytes(std::span<const uint8_t>* out);

    HRESULT QueryExtraInterface(REFIID iid, void** out);

private:
    friend class MessageDecoder;

    ~SnmpMessage() override;
    HRESULT Init();

    // Every field but AgentAddress and the collection to its reset value; Community only
    // when `community` is true.
    void ResetFields(bool community);
    // AgentAddress from the host-information object (when it gives an address); an answer
    // of the last second, read by any message, is reused.
    void TakeHostAddress();
    // Sets the reset Community ("cobalt"); false when memory runs out.
    bool SetDefaultCommunity();
    // The previous message's variables of our class, held by Decode while it makes the new
    // ones: each is released just before a new variable is made, so that the allocator
    // serves the new one from the memory the old one leaves (a message of many variables
    // then never overflows the allocator's per-thread cache). Releases the rest at its end.
    class Retired {
    public:
        explicit Retired(SnmpMessage& message);
        Retired(const Retired&) = delete;
        Retired& operator=(const Retired&) = delete;
        ~Retired();
        // Holds `v` with a reference of its own (std::bad_alloc when that cannot be noted).
        void Hold(model::SnmpVariable* v) {
            held_.push_back(v);
            v->AddRef();
        }
        void ReleaseNext() {
            if (next_ < held_.size()) held_[next_++]->Release();
        }

    private:
        SnmpMessage& message_;
        std::vector<model::SnmpVariable*> held_;  // the capacity of message_.retired_
        std::size_t next_ = 0;
    };

    // Decode's reset: every field but Community (which the parse replaces, or which is set
    // to its reset value when the parse fails before it), AgentAddress from the host, the
    // collection emptied (its variables of our class into `retired`).
    void ResetForDecode(Retired& retired);
    // Parse, the error-index rule and the error record.
    HRESULT DecodeFrom(const uint8_t* data, std::size_t size, bool haveBytes, Retired& retired);
    // Encodes into `state.buffer`; E_OUTOFMEMORY when memory runs out, else S_OK.
    HRESULT EncodeInto(EncoderState& state);

    BSTR community_ = nullptr;
    BSTR enterprise_ = nullptr;
    BSTR agentAddress_ = nullptr;
    VARIANT ref_;
    LONG exception_ = 0;
    LONG type_ = snmpGet1;
    LONG genericTrap_ = 0;
    LONG exceptionIndex_ = 0;
    LONG id_ = 0;
    LONG maxRepetition_ = 0;
    LONG specificTrap_ = 0;
    LONG upTime_ = 0;
    LONG nonRepeaters_ = 0;  // set by Encode and Decode of GetBulk messages

    ComPtr<IVelkHostInfo> hostInfo_;
    ComPtr<ISnmpVariables> variables_;
    model::SnmpVariables* members_ = nullptr;  // the same collection, as our class

    // Host address: the last answer of the host-information object and when it was read.

    // Output buffer and scratch space of the encoder, kept between encodings so that an
    // ordinary message costs no allocation after the first. A host variable may call Encode
    // re-entrantly; the nested call then uses its own.
    EncoderState encoder_;
    bool encoding_ = false;
    // Scratch space of the decoder (texts of long OIDs, retired variables), kept for the
    // same reason.
    std::u16string decodeName_;
    std::u16string decodeValue_;
    std::vector<model::SnmpVariable*> retired_;
};

}  // namespace velk::codec
