// SnmpVariable: one variable binding, or the definition of one MIB object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/object.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::model {

class SnmpVariables;

// Private interface identity answered only by SnmpVariable (see SnmpVariable::From).
// {6F1B0C52-3D7E-4A8B-9C21-5E04D7A1B9F3}
inline constexpr IID IID_SnmpVariableImpl = {0x6f1b0c52, 0x3d7e, 0x4a8b, {0x9c, 0x21, 0x5e, 0x04, 0xd7, 0xa1, 0xb9, 0xf3}};

// Stores what it is given without checks; interprets nothing except in ValueName. Texts
// may be null (they read as empty). The value store normally holds text (VT_BSTR) or a
// byte array (VT_ARRAY|VT_UI1); any other VARIANT reads as empty text and as no bytes.
class SnmpVariable final : public rt::Object<SnmpVariable, rt::Dual<ISnmpVariable>,
                                             rt::SupportErrorInfo<ISnmpVariable>> {
    using Base = rt::Object<SnmpVariable, rt::Dual<ISnmpVariable>, rt::SupportErrorInfo<ISnmpVariable>>;
    friend Base;

public:
    SnmpVariable();

    // ISnmpVariable. Every member succeeds (E_POINTER for a null out pointer,
    // E_OUTOFMEMORY when a copy cannot be allocated). Text getters return fresh copies
    // (null for a null field); text setters store a copy of the argument.
    STDMETHOD(get_Access)(AccessConstants* out) override;
    STDMETHOD(put_Access)(AccessConstants value) override;
    STDMETHOD(get_Exception)(VariableExceptionConstants* out) override;
    STDMETHOD(put_Exception)(VariableExceptionConstants value) override;
    STDMETHOD(get_Description)(BSTR* out) override;
    STDMETHOD(put_Description)(BSTR value) override;
    STDMETHOD(get_Oid)(BSTR* out) override;
    STDMETHOD(put_Oid)(BSTR value) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(put_Name)(BSTR value) override;
    STDMETHOD(get_Repeat)(VARIANT_BOOL* out) override;
    STDMETHOD(put_Repeat)(VARIANT_BOOL value) override;
    STDMETHOD(get_Status)(StatusConstants* out) override;
    STDMETHOD(put_Status)(StatusConstants value) override;
    STDMETHOD(get_Type)(VariableTypeConstants* out) override;
    STDMETHOD(put_Type)(VariableTypeConstants value) override;
    // Text store: a copy. Byte array: all its bytes as text (one character per byte,
    // zero bytes included). Anything else: empty text.
    STDMETHOD(get_Value)(BSTR* out) override;
    // Replaces the store by text, whatever the Type.
    STDMETHOD(put_Value)(BSTR value) override;
    STDMETHOD(get_Syntax)(BSTR* out) override;
    STDMETHOD(put_Syntax)(BSTR value) override;
    // Byte array store: a copy. Text store: a new one-dimensional, zero-based byte array of
    // the text's bytes (no elements for empty text). Anything else: VT_EMPTY.
    STDMETHOD(get_ValueEx)(VARIANT* out) override;
    // Stores a copy of the VARIANT, whatever its type; a by-reference VARIANT stores a copy
    // of the value it refers to. A reference that cannot be followed (null, or a chain of
    // VARIANT references deeper than CVelkVariant::kMaxIndirection) stores VT_EMPTY.
    STDMETHOD(put_ValueEx)(VARIANT value) override;
    STDMETHOD(get_Reference)(BSTR* out) override;
    STDMETHOD(put_Reference)(BSTR value) override;
    // The variable's own index-name collection (the same object on every read, created on
    // first use); null with success when it cannot be created.
    STDMETHOD(get_Index)(IVelkStrings** out) override;
    // The enumeration label of Value in BaseSyntax when Type is snmpInteger, else the text
    // "Invalid Enumeration Value".
    STDMETHOD(get_ValueName)(BSTR* out) override;
    STDMETHOD(get_BaseSyntax)(BSTR* out) override;
    STDMETHOD(put_BaseSyntax)(BSTR value) override;

    // Object map entry: a new variable answering `iid`; honours the creation-failure seam.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Our variable behind an ISnmpVariable, or null for a host-implemented object. Borrowed.
    static SnmpVariable* From(ISnmpVariable* variable);

    // A new variable (one reference owned by the caller) whose Oid and value text are
    // `oid` and `value` (an empty text leaves the field as a new variable has it), both
    // held in the object's own allocation: one allocation in all. Null when memory runs
    // out. For the decoder; the creation-failure seam is not consulted.
    static SnmpVariable* NewWithTexts(std::u16string_view oid, std::u16string_view value);
    // The same with a byte-array value store holding a copy of `size` bytes at `data`
    // (null only when size is 0), the array also in the object's allocation.
    static SnmpVariable* NewWithBytes(std::u16string_view oid, const uint8_t* data, size_t size);
    // A new variable whose texts are these (empty ones stay as a new variable has them), all
    // held in the object's own allocation: one allocation in all. Null when memory runs out.
    // For the MIB image reader; the creation-failure seam is not consulted.
    struct TextFields {
        std::u16string_view oid, name, description, reference, syntax, value;
    };
    static SnmpVariable* NewWithFields(const TextFields& texts);
    // Objects are freed with the unsized form: the embedding factories allocate more than
    // the class.
    static void operator delete(void* p) noexcept { ::operator delete(p); }

    // ---- Fast surface for the codec, the MIB compiler and the collection ----
    // Views stay valid until the field is next set.
    std::u16string_view OidView() const { return View(oid_); }
    std::u16string_view NameView() const { return View(name_); }
    std::u16string_view DescriptionView() const { return View(description_); }
    std::u16string_view ReferenceView() const { return View(reference_); }
    std::u16string_view SyntaxView() const { return View(syntax_); }
    std::u16string_view BaseSyntaxView() const { return View(baseSyntax_); }

    // Setters that take ownership of `text` (may be null); no copy is made.
    void SetOid(BSTR text);
    void SetName(BSTR text) { Replace(&name_, text); }
    void SetDescription(BSTR text) { Replace(&description_, text); }
    void SetReference(BSTR text) { Replace(&reference_, text); }
    void SetSyntax(BSTR text) { Replace(&syntax_, text); }
    void SetBaseSyntax(BSTR text) { Replace(&baseSyntax_, text); }
    // Copying setters; false when memory runs out (the field is then unchanged).
    bool SetOid(std::u16string_view text);
    bool SetName(std::u16string_view text);

    LONG AccessValue() const { return access_; }
    LONG StatusValue() const { return status_; }
    LONG TypeValue() const { return type_; }
    LONG ExceptionValue() const { return exception_; }
    VARIANT_BOOL RepeatValue() const { return repeat_; }
    void SetAccess(LONG v) { access_ = v; }
    void SetStatus(LONG v) { status_ = v; }
    void SetType(LONG v) {
        type_ = v;
        EncodingChanged();
    }
    void SetException(LONG v) {
        exception_ = v;
        EncodingChanged();
    }
    void SetRepeat(VARIANT_BOOL v) { repeat_ = v; }

    // The value store as it is (read it with CVelkVariant for bytes).
    const VARIANT& ValueStore() const { return value_; }
    // The stored text when the store holds text, else empty.
    std::u16string_view ValueTextView() const;
    // Replaces the store by text, taking ownership of `text` (may be null).
    void SetValueText(BSTR text);
    bool SetValueText(std::u16string_view text);
    // Replaces the store by a one-dimensional byte array holding a copy of the bytes;
    // false when memory runs out (the store is then unchanged).
    bool SetValueBytes(const uint8_t* data, size_t size);

    // The index collection if it was created; borrowed.
    IVelkStrings* IndexIfCreated() const { return index_; }
    // Replaces the index collection (takes a new reference; null drops it, and the next
    // read of Index creates an empty one). For the MIB image reader; hosts see Index as
    // read-only.
    void ReplaceIndex(IVelkStrings* index);

    // ---- Encoding cache of the codec ----
    // The codec may keep here bytes it derived from the fields that shape the variable's
    // encoding: Oid, Type, Exception and the value store. Every change of one of those
    // fields drops them (every member that sets one calls EncodingChanged), so bytes found
    // here always belong to the current fields.
    std::span<const uint8_t> EncodingCache() const { return {encoding_.get(), encodingSize_}; }
    // Replaces the cache by a copy of `bytes`; false, with no cache, when memory runs out.
    bool SetEncodingCache(std::span<const uint8_t> bytes);
    // How often the codec has encoded the current fields, as it counts them with
    // NoteEncoding (saturating at 255); zero again after every change.
    uint8_t EncodingCount() const { return encodings_; }
    void NoteEncoding() {
        if (encodings_ != 255) ++encodings_;
    }

    HRESULT QueryExtraInterface(REFIID iid, void** out);

private:
    friend class SnmpVariables;

    // Drops the encoding cache: Oid, Type, Exception or the value store changed.
    void EncodingChanged() {
        if (encodings_ == 0) return;
        encoding_.reset();
        encodingSize_ = 0;
        encodings_ = 0;
    }

    // A collection's OID change counter and how many entries of it hold this variable.
    struct Watch {
        uint64_t* changes;
        uint32_t entries;
    };

    ~SnmpVariable() override;

    static SnmpVariable* NewEmbedded(std::u16string_view oid, std::u16string_view value,
                                     const uint8_t* bytes, size_t byteCount);
    static std::u16string_view View(BSTR s) {
        return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
    }
    // Replace frees the field's old text unless it lives in the object's allocation.
    void Replace(BSTR* field, BSTR text);
    HRESULT CopyIn(BSTR* field, BSTR value);
    uint8_t EmbeddedBit(const BSTR* field) const;
    // Frees the value store, unless it lives in the object's allocation; the store is then
    // empty.
    void ReleaseValue();
    static HRESULT CopyOut(BSTR field, BSTR* out);
    void OidChanged();

    // Collections keep an OID-sorted successor index of their members and count, through
    // these watches, the Oid changes that make it stale. Called by SnmpVariables only.
    void AddWatch(uint64_t* changes);
    void RemoveWatch(uint64_t* changes);

    BSTR oid_ = nullptr;
    BSTR name_ = nullptr;
    BSTR description_ = nullptr;
    BSTR reference_ = nullptr;
    BSTR syntax_ = nullptr;
    BSTR baseSyntax_ = nullptr;
    LONG access_ = snmpVariableAccessNotUsed;
    LONG status_ = snmpMandatory;
    LONG type_ = snmpNull;
    LONG exception_ = snmpNoException;
    VARIANT_BOOL repeat_ = VARIANT_FALSE;
    VARIANT value_;
    IVelkStrings* index_ = nullptr;  // created on first read of Index
    Watch watch_{nullptr, 0};        // most variables stand in one collection
    std::unique_ptr<std::vector<Watch>> moreWatches_;
    std::unique_ptr<uint8_t[]> encoding_;  // the codec's cache (see EncodingCache)
    uint32_t encodingSize_ = 0;
    uint8_t encodings_ = 0;
    // Which texts live in the object's own allocation (the New... factories).
    static constexpr uint8_t kEmbeddedOid = 1;
    static constexpr uint8_t kEmbeddedValue = 2;
    static constexpr uint8_t kEmbeddedName = 4;
    static constexpr uint8_t kEmbeddedDescription = 8;
    static constexpr uint8_t kEmbeddedReference = 16;
    static constexpr uint8_t kEmbeddedSyntax = 32;
    static constexpr uint8_t kEmbeddedBaseSyntax = 64;
    uint8_t embedded_ = 0;
};

// Creates a new variable (fails as the class's creation-failure seam says).
HRESULT CreateSnmpVariable(ISnmpVariable** out);
// A new variable as our class, with one reference owned by the caller; null when memory
// runs out. For hot paths (decoding, compiling): the creation-failure seam is not consulted.
SnmpVariable* NewSnmpVariable();

}  // namespace velk::model
