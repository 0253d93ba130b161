// Control persistence: exact bytes, round trips through a stream and a storage, and
// untrusted data (newer version, short stream, wrong type, bad text counts).
#include <gtest/gtest.h>

#include <vector>

#include "automation/persistence.h"

// A small control with the three kinds of persisted property.
const IID IID_IToyControl = {0x3e0f0c11, 0x3333, 0x4c4c, {1, 2, 3, 4, 5, 6, 7, 8}};
const CLSID CLSID_ToyControl = {0x3e0f0c12, 0x3333, 0x4c4c, {1, 2, 3, 4, 5, 6, 7, 8}};

struct IToyControl : IDispatch {
    STDMETHOD(get_Auto)(VARIANT_BOOL* out) = 0;
    STDMETHOD(put_Auto)(VARIANT_BOOL v) = 0;
    STDMETHOD(get_Name)(BSTR* out) = 0;
    STDMETHOD(put_Name)(BSTR v) = 0;
    STDMETHOD(get_Port)(LONG* out) = 0;
    STDMETHOD(put_Port)(LONG v) = 0;

protected:
    ~IToyControl() = default;
};
VELK_INTERFACE_TRAITS(IToyControl, IDispatch, IID_IToyControl)

const velk::rt::MemberDef kToyMembers[] = {
    VELK_PROPGET(IToyControl, Auto, 1, nullptr, "pVal"),
    VELK_PROPPUT(IToyControl, Auto, 1, nullptr, "newVal"),
    VELK_PROPGET(IToyControl, Name, 2, nullptr, "pVal"),
    VELK_PROPPUT(IToyControl, Name, 2, nullptr, "newVal"),
    VELK_PROPGET(IToyControl, Port, 3, nullptr, "pVal"),
    VELK_PROPPUT(IToyControl, Port, 3, nullptr, "newVal"),
};
const velk::rt::InterfaceDef kToyDef{"IToyControl", &IID_IToyControl, nullptr, kToyMembers,
                                     std::size(kToyMembers), false, nullptr};
const velk::rt::InterfaceDef& DescribeInterface(const IToyControl*) { return kToyDef; }

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::automation::PersistedProperty;

class ToyControl final
    : public velk::rt::Object<ToyControl, velk::rt::Dual<IToyControl>,
                              velk::automation::PersistStreamInit<ToyControl>,
                              velk::automation::PersistStorage<ToyControl>> {
public:
    static std::span<const PersistedProperty> PersistedProperties() {
        static const PersistedProperty props[] = {
            {"Auto", 1, VT_BOOL}, {"Name", 2, VT_BSTR}, {"Port", 3, VT_I4}};
        return props;
    }
    static const CLSID& PersistClassId() { return CLSID_ToyControl; }

    STDMETHOD(get_Auto)(VARIANT_BOOL* out) override { return *out = autoOn, S_OK; }
    STDMETHOD(put_Auto)(VARIANT_BOOL v) override { return autoOn = v, SetDirty(), S_OK; }
    STDMETHOD(get_Name)(BSTR* out) override { return *out = name.Copy(), S_OK; }
    STDMETHOD(put_Name)(BSTR v) override { return name = Bstr(v), SetDirty(), S_OK; }
    STDMETHOD(get_Port)(LONG* out) override { return *out = port, S_OK; }
    STDMETHOD(put_Port)(LONG v) override {
        ++portSets;
        return port = v, SetDirty(), S_OK;
    }

    VARIANT_BOOL autoOn = VARIANT_FALSE;
    Bstr name;
    LONG port = 0;
    int portSets = 0;
};

std::vector<uint8_t> StreamBytes(IStream* s) {
    LARGE_INTEGER zero{0};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::vector<uint8_t> out(4096);
    ULONG read = 0;
    s->Read(out.data(), static_cast<ULONG>(out.size()), &read);
    out.resize(read);
    return out;
}

IPersistStreamInit* Streams(ToyControl* c) { return c; }
IPersistStorage* Storage(ToyControl* c) { return c; }

ComPtr<IStream> StreamOf(const std::vector<uint8_t>& bytes) {
    ComPtr<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, s.Put());
    s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    LARGE_INTEGER zero{0};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    return s;
}

TEST(Persistence, SavesTheExactLayout) {
    auto c = velk::rt::MakeObject<ToyControl>();
    c->autoOn = VARIANT_TRUE;
    c->name = Bstr(u"ab");
    c->port = 161;
    ComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.Put()), S_OK);
    ASSERT_EQ(Streams(c.Get())->Save(s.Get(), TRUE), S_OK);
    std::vector<uint8_t> expected = {0x00, 0x09, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x08, 0x00,
                                     0x06, 0x00, 0x00, 0x00, 'a',  0x00, 'b',  0x00, 0x00, 0x00,
                                     0x03, 0x00, 0xA1, 0x00, 0x00, 0x00};
    EXPECT_EQ(StreamBytes(s.Get()), expected);

    // A null text is a count of 0 and no bytes.
    c->name = Bstr();
    ComPtr<IStream> s2;
    CreateStreamOnHGlobal(nullptr, TRUE, s2.Put());
    Streams(c.Get())->Save(s2.Get(), TRUE);
    auto bytes = StreamBytes(s2.Get());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 14),
              (std::vector<uint8_t>{0x08, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(Persistence, RoundTripsThroughStreamAndStorageUsingTheSetters) {
    auto a = velk::rt::MakeObject<ToyControl>();
    a->put_Auto(VARIANT_TRUE);
    a->put_Name(Bstr(u"public").Get());
    a->put_Port(1161);
    EXPECT_EQ(Streams(a.Get())->IsDirty(), S_OK);
    ComPtr<IStorage> storage;
    ASSERT_EQ(VelkCreateMemoryStorage(storage.Put()), S_OK);
    ASSERT_EQ(Storage(a.Get())->Save(storage.Get(), TRUE), S_OK);
    EXPECT_EQ(Streams(a.Get())->IsDirty(), S_FALSE);

    auto b = velk::rt::MakeObject<ToyControl>();
    ASSERT_EQ(Storage(b.Get())->Load(storage.Get()), S_OK);
    EXPECT_EQ(b->autoOn, VARIANT_TRUE);
    EXPECT_EQ(b->name.View(), u"public");
    EXPECT_EQ(b->port, 1161);
    EXPECT_EQ(b->portSets, 1);  // loaded through the setter
    EXPECT_EQ(Streams(b.Get())->IsDirty(), S_FALSE);
}

TEST(Persistence, UntrustedDataFailsWithoutLoadingTooMuch) {
    const std::vector<uint8_t> good = {0x00, 0x09, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF,
                                       0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x03, 0x00, 0x07, 0x00, 0x00, 0x00};
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool autoLoaded;
    };
    auto with = [&](size_t at, std::vector<uint8_t> patch) {
        auto b = good;
        for (size_t i = 0; i < patch.size(); ++i) b[at + i] = patch[i];
        return b;
    };
    std::vector<Case> cases = {
        {"newer version", with(0, {0x00, 0x0A}), false},
        {"cut in the version", std::vector<uint8_t>(good.begin(), good.begin() + 3), false},
        {"cut in a value", std::vector<uint8_t>(good.begin(), good.begin() + 12), true},
        {"wrong stored type", with(8, {0x03}), true},
        {"odd text count", with(10, {0x03}), true},
        {"negative text count", with(10, {0xFE, 0xFF, 0xFF, 0xFF}), true},
        {"count beyond the data", with(10, {0x00, 0x00, 0x00, 0x40}), true},
    };
    for (const Case& c : cases) {
        auto control = velk::rt::MakeObject<ToyControl>();
        EXPECT_TRUE(FAILED(Streams(control.Get())->Load(StreamOf(c.bytes).Get()))) << c.what;
        EXPECT_EQ(control->autoOn == VARIANT_TRUE, c.autoLoaded) << c.what;
        EXPECT_EQ(control->port, 0) << c.what;
    }
    auto control = velk::rt::MakeObject<ToyControl>();
    ASSERT_EQ(Streams(control.Get())->Load(StreamOf(good).Get()), S_OK);
    EXPECT_EQ(control->port, 7);
    EXPECT_EQ(control->name.View(), u"");
    EXPECT_NE(control->name.Get(), nullptr);  // count 2: an empty, non-null text
}

}  // namespace
