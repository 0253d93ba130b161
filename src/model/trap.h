// SnmpTrap: the definition of one trap or notification (name, enterprise, specific trap
// number, texts, status and the OIDs of the variables it carries).
#pragma once

#include <string_view>

#include "runtime/object.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::model {

class SnmpTrap final
    : public rt::Object<SnmpTrap, rt::Dual<ISnmpTrap>, rt::SupportErrorInfo<ISnmpTrap>> {
public:
    // Object-map entry. Fails with the creation failure set for CLSID_SnmpTrap, or with
    // the result of creating the Oids collection.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Automation members: plain fields, stored unchanged; text getters return fresh copies
    // (null when unset), setters store a copy. None reports an error.
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(put_Name)(BSTR value) override;
    STDMETHOD(get_SpecificTrap)(LONG* out) override;
    STDMETHOD(put_SpecificTrap)(LONG value) override;
    STDMETHOD(get_Enterprise)(BSTR* out) override;
    STDMETHOD(put_Enterprise)(BSTR value) override;
    STDMETHOD(get_Description)(BSTR* out) override;
    STDMETHOD(put_Description)(BSTR value) override;
    // The collection currently held, with a new reference (changes made through it change
    // the trap).
    STDMETHOD(get_Oids)(IVelkStrings** out) override;
    STDMETHOD(get_Status)(StatusConstants* out) override;
    STDMETHOD(put_Status)(StatusConstants value) override;
    STDMETHOD(get_Reference)(BSTR* out) override;
    STDMETHOD(put_Reference)(BSTR value) override;

    // The library's own surface (the MIB compiler and image reader): setters that take
    // ownership of the text, and views that copy nothing.
    void SetName(Bstr name) { name_ = std::move(name); }
    void SetEnterprise(Bstr enterprise) { enterprise_ = std::move(enterprise); }
    void SetDescription(Bstr description) { description_ = std::move(description); }
    void SetReference(Bstr reference) { reference_ = std::move(reference); }
    void SetSpecificTrap(LONG value) { specificTrap_ = value; }
    void SetStatus(StatusConstants value) { status_ = value; }
    std::u16string_view NameView() const { return name_.View(); }
    // The held collection, borrowed (never null).
    IVelkStrings* Oids() const { return oids_.Get(); }
    // Replaces the held collection: references `oids`, releases the previous one. A null
    // argument gives E_POINTER and keeps the collection.
    HRESULT ReplaceOids(IVelkStrings* oids);

private:
    friend HRESULT CreateSnmpTrap(ComPtr<SnmpTrap>* out);
    // Creates the trap's own Oids collection; part of creation.
    HRESULT Init();

    Bstr name_;
    Bstr enterprise_;
    Bstr description_;
    Bstr reference_;
    LONG specificTrap_ = -1;
    StatusConstants status_ = snmpMandatory;
    ComPtr<IVelkStrings> oids_;
};

// A new trap with its initial values (SpecificTrap -1, Status 0, empty texts, a new empty
// Oids collection). Fails with the creation failure set for CLSID_SnmpTrap, with the
// result of creating the Oids collection, or E_OUTOFMEMORY; *out is then null.
HRESULT CreateSnmpTrap(ComPtr<SnmpTrap>* out);
HRESULT CreateSnmpTrap(ISnmpTrap** out);

// The library's own trap behind an ISnmpTrap, or null for a host's object.
SnmpTrap* AsSnmpTrap(ISnmpTrap* trap);

}  // namespace velk::model
