// Late binding through the table-driven IDispatch, the snapshot enumerator, connection
// points and the class registry, over a small test class.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "runtime/connection_point.h"
#include "runtime/enumerator.h"
#include "runtime/object.h"
#include "runtime/registry.h"

// The test interface lives in the global namespace, like the library's own interfaces, so
// Dual<IShape> finds its table by argument-dependent lookup.
enum ShapeConstants : LONG { shapeSquare = 1, shapeCircle = 2 };

const IID IID_IShape = {0x1d0f0c11, 0x1111, 0x4a4a, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID DIID_ShapeEvents = {0x1d0f0c12, 0x1111, 0x4a4a, {1, 2, 3, 4, 5, 6, 7, 8}};
const CLSID CLSID_Shape = {0x1d0f0c13, 0x1111, 0x4a4a, {1, 2, 3, 4, 5, 6, 7, 8}};

struct IShape : IDispatch {
    STDMETHOD(get_Size)(LONG* out) = 0;
    STDMETHOD(put_Size)(LONG v) = 0;
    STDMETHOD(get_Kind)(ShapeConstants* out) = 0;
    STDMETHOD(get_Name)(BSTR* out) = 0;
    STDMETHOD(put_Name)(BSTR v) = 0;
    STDMETHOD(Item)(VARIANT index, BSTR* out) = 0;
    STDMETHOD(Scale)(LONG factor, LONG offset, LONG* out) = 0;
    STDMETHOD(Fill)(VARIANT* data) = 0;
    STDMETHOD(Trace)(VARIANT* result, VARIANT_BOOL on) = 0;
    STDMETHOD(get_Self)(IShape** out) = 0;
    STDMETHOD(putref_Self)(IShape* v) = 0;
    STDMETHOD(Fail)() = 0;

protected:
    ~IShape() = default;
};

template <>
inline constexpr const char* velk::kEnumName<ShapeConstants> = "ShapeConstants";
VELK_INTERFACE_TRAITS(IShape, IDispatch, IID_IShape)

namespace {

const velk::rt::MemberDef kShapeMembers[] = {
    VELK_PROPGET(IShape, Size, 1, "Size of the shape.", "pVal"),
    VELK_PROPPUT(IShape, Size, 1, "Size of the shape.", "newVal"),
    VELK_PROPGET(IShape, Kind, 2, nullptr, "pVal"),
    VELK_PROPGET(IShape, Name, 3, nullptr, "pVal"),
    VELK_PROPPUT(IShape, Name, 3, nullptr, "newVal"),
    VELK_METHOD_R(IShape, Item, 0, "Default member.", "Index,pVal"),
    VELK_METHOD_R(IShape, Scale, 4, nullptr, "Factor,Offset=10,pVal"),
    VELK_METHOD(IShape, Fill, 5, nullptr, "Data"),
    VELK_METHOD(IShape, Trace, 6, nullptr, "Result?,On=-1"),
    VELK_PROPGET(IShape, Self, 7, nullptr, "pVal"),
    VELK_PROPPUTREF(IShape, Self, 7, nullptr, "newVal"),
    VELK_METHOD(IShape, Fail, 8, nullptr, ""),
};
const velk::rt::InterfaceDef kShapeDef{"IShape", &IID_IShape, "A shape.", kShapeMembers,
                                       std::size(kShapeMembers), false, nullptr};

}  // namespace

const velk::rt::InterfaceDef& DescribeInterface(const IShape*) { return kShapeDef; }

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

class Shape final : public velk::rt::Object<Shape, velk::rt::Dual<IShape>,
                                            velk::rt::ConnectionPoints,
                                            velk::rt::SupportErrorInfo<IShape>> {
public:
    Shape() { AddPoint(DIID_ShapeEvents); }
    STDMETHOD(get_Size)(LONG* out) override { return *out = size, S_OK; }
    STDMETHOD(put_Size)(LONG v) override {
        size = v;
        VARIANT arg;
        arg.vt = VT_I4;
        arg.lVal = v;
        Fire(DIID_ShapeEvents, 1, {arg});
        return S_OK;
    }
    STDMETHOD(get_Kind)(ShapeConstants* out) override { return *out = shapeCircle, S_OK; }
    STDMETHOD(get_Name)(BSTR* out) override { return *out = name.Copy(), S_OK; }
    STDMETHOD(put_Name)(BSTR v) override { return name = Bstr(v), S_OK; }
    STDMETHOD(Item)(VARIANT index, BSTR* out) override {
        lastIndexType = index.vt;
        *out = SysAllocString(u"item");
        return S_OK;
    }
    STDMETHOD(Scale)(LONG factor, LONG offset, LONG* out) override {
        return *out = size * factor + offset, S_OK;
    }
    STDMETHOD(Fill)(VARIANT* data) override {
        VariantClear(data);
        data->vt = VT_I4;
        data->lVal = 42;
        return S_OK;
    }
    STDMETHOD(Trace)(VARIANT* result, VARIANT_BOOL on) override {
        traceResultMissing = result->vt == VT_ERROR && result->scode == DISP_E_PARAMNOTFOUND;
        traceOn = on;
        return S_OK;
    }
    STDMETHOD(get_Self)(IShape** out) override { return self.CopyTo(out); }
    STDMETHOD(putref_Self)(IShape* v) override { return self = v, S_OK; }
    STDMETHOD(Fail)() override {
        ComPtr<ICreateErrorInfo> create;
        CreateErrorInfo(create.Put());
        create->SetDescription(const_cast<LPOLESTR>(u"it broke"));
        create->SetHelpContext(12001);
        ComPtr<IErrorInfo> info;
        create.As(&info);
        SetErrorInfo(0, info.Get());
        return static_cast<HRESULT>(0x800A2EE1u);
    }

    LONG size = 3;
    Bstr name;
    VARTYPE lastIndexType = VT_EMPTY;
    bool traceResultMissing = false;
    VARIANT_BOOL traceOn = 0;
    ComPtr<IShape> self;
};

// Calls a member by name with arguments in natural order.
HRESULT CallByName(IDispatch* d, const char16_t* name, WORD flags, std::vector<Variant> args,
                   VARIANT* result, EXCEPINFO* excep = nullptr, UINT* argErr = nullptr) {
    DISPID id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    return d->Invoke(id, IID_NULL, 0, flags, &params, result, excep, argErr);
}

TEST(LateBinding, PropertiesMethodsAndDefaultsByName) {
    auto shape = velk::rt::MakeObject<Shape>();
    ComPtr<IDispatch> d;
    ASSERT_EQ(shape.As(&d), S_OK);

    Variant r;
    ASSERT_EQ(CallByName(d.Get(), u"SIZE", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 3);

    // A text argument is coerced to the parameter type.
    ASSERT_EQ(CallByName(d.Get(), u"Size", DISPATCH_PROPERTYPUT, {Variant(u" 7 ")}, nullptr), S_OK);
    EXPECT_EQ(shape->size, 7);

    // Optional parameter with default: Scale(2) == 7*2+10; Scale(2, 1) == 15.
    ASSERT_EQ(CallByName(d.Get(), u"Scale", DISPATCH_METHOD, {Variant(2)}, r.Put()), S_OK);
    EXPECT_EQ(r.lVal, 24);
    ASSERT_EQ(CallByName(d.Get(), u"Scale", DISPATCH_METHOD, {Variant(2), Variant(1)}, r.Put()), S_OK);
    EXPECT_EQ(r.lVal, 15);

    // Enumeration results come back as VT_I4.
    ASSERT_EQ(CallByName(d.Get(), u"Kind", DISPATCH_PROPERTYGET, {}, r.Put()), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, shapeCircle);

    // The default member is reachable as DISPID 0 with method or property-get flags.
    Variant i2;
    i2.vt = VT_I2;
    i2.iVal = 1;
    std::vector<VARIANT> args{i2};
    DISPPARAMS params{args.data(), nullptr, 1, 0};
    ASSERT_EQ(d->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, r.Put(), nullptr,
                        nullptr),
              S_OK);
    EXPECT_EQ(shape->lastIndexType, VT_I2);  // VARIANT parameters arrive unconverted
    EXPECT_EQ(Bstr(r.bstrVal).View(), u"item");
}

TEST(LateBinding, ByReferenceAndOptionalVariants) {
    auto shape = velk::rt::MakeObject<Shape>();
    ComPtr<IDispatch> d;
    shape.As(&d);
    Variant target;
    Variant ref;
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &target;
    ASSERT_EQ(CallByName(d.Get(), u"Fill", DISPATCH_METHOD, {ref}, nullptr), S_OK);
    ref.vt = VT_EMPTY;  // borrowed pointer: do not clear through it
    EXPECT_EQ(target.vt, VT_I4);
    EXPECT_EQ(target.lVal, 42);

    ASSERT_EQ(CallByName(d.Get(), u"Trace", DISPATCH_METHOD, {}, nullptr), S_OK);
    EXPECT_TRUE(shape->traceResultMissing);
    EXPECT_EQ(shape->traceOn, VARIANT_TRUE);
}

TEST(LateBinding, ObjectPropertiesAreQueriedForTheirInterface) {
    auto a = velk::rt::MakeObject<Shape>();
    auto b = velk::rt::MakeObject<Shape>();
    ComPtr<IDispatch> da, db;
    a.As(&da);
    b.As(&db);
    Variant obj;
    obj.vt = VT_DISPATCH;
    obj.pdispVal = db.Get();
    db->AddRef();
    ASSERT_EQ(CallByName(da.Get(), u"Self", DISPATCH_PROPERTYPUTREF, {obj}, nullptr), S_OK);
    EXPECT_EQ(a->self.Get(), static_cast<IShape*>(b.Get()));
    Variant r;
    ASSERT_EQ(CallByName(da.Get(), u"Self", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    EXPECT_EQ(r.vt, VT_DISPATCH);
    a->self.Reset();
}

TEST(LateBinding, DispatchErrors) {
    auto shape = velk::rt::MakeObject<Shape>();
    ComPtr<IDispatch> d;
    shape.As(&d);
    DISPID id;
    LPOLESTR bad[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, bad, 1, 0, &id), DISP_E_UNKNOWNNAME);

    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant r;
    EXPECT_EQ(d->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    // Missing required argument; too many arguments.
    EXPECT_EQ(CallByName(d.Get(), u"Scale", DISPATCH_METHOD, {}, r.Put()), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(CallByName(d.Get(), u"Scale", DISPATCH_METHOD,
                         {Variant(1), Variant(2), Variant(3)}, r.Put()),
              DISP_E_BADPARAMCOUNT);
    // A text that is not a number: type mismatch, with the argument's index.
    UINT argErr = 99;
    EXPECT_EQ(CallByName(d.Get(), u"Scale", DISPATCH_METHOD, {Variant(u"1.3.6"), Variant(1)},
                         r.Put(), nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);  // reversed order: the first argument is the last VARIANT
    // A failing member: DISP_E_EXCEPTION with EXCEPINFO from the thread's error information.
    EXCEPINFO excep{};
    EXPECT_EQ(CallByName(d.Get(), u"Fail", DISPATCH_METHOD, {}, r.Put(), &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, static_cast<SCODE>(0x800A2EE1u));
    EXPECT_EQ(Bstr::Adopt(excep.bstrDescription).View(), u"it broke");
    EXPECT_EQ(excep.dwHelpContext, 12001u);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
}

// Tables are resolved once and then read without a lock: many at once from several threads
// (more tables than the lock-free index has slots), each resolving to its own members.
TEST(LateBinding, TablesResolveOnceForAllThreads) {
    static const auto* tables = new std::vector<velk::rt::InterfaceDef>(300, kShapeDef);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (size_t k = 0; k < tables->size(); ++k) {
                const velk::rt::InterfaceDef& table = (*tables)[(k * 7 + t * 75) % tables->size()];
                LPOLESTR names[] = {const_cast<LPOLESTR>(u"scale"), const_cast<LPOLESTR>(u"Offset")};
                DISPID ids[2] = {};
                if (velk::rt::DispatchGetIDsOfNames(table, names, 2, ids) != S_OK || ids[0] != 4 || ids[1] != 1)
                    ++wrong;
                if (velk::rt::Resolve(table, 6).def != &kShapeMembers[6]) ++wrong;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(TypeInformation, DescribesMembersParametersAndHelp) {
    auto shape = velk::rt::MakeObject<Shape>();
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(shape->GetTypeInfo(0, 0, info.Put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, std::size(kShapeMembers));
    EXPECT_TRUE(attr->guid == IID_IShape);
    info->ReleaseTypeAttr(attr);

    // Scale: two parameters, the second optional with default 10, returns long.
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(6, &f), S_OK);
    EXPECT_EQ(f->memid, 4);
    EXPECT_EQ(f->cParams, 2);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_I4);
    EXPECT_TRUE(f->lprgelemdescParam[1].paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT);
    EXPECT_EQ(f->lprgelemdescParam[1].paramdesc.pparamdescex->varDefaultValue.lVal, 10);
    info->ReleaseFuncDesc(f);

    BSTR names[4] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(4, names, 4, &count), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(Bstr::Adopt(names[0]).View(), u"Scale");
    EXPECT_EQ(Bstr::Adopt(names[1]).View(), u"Factor");
    EXPECT_EQ(Bstr::Adopt(names[2]).View(), u"Offset");

    BSTR help = nullptr;
    ASSERT_EQ(info->GetDocumentation(1, nullptr, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Bstr::Adopt(help).View(), u"Size of the shape.");
}

// An event sink that records the events it receives.
class Sink final : public velk::rt::Object<Sink, IDispatch> {
public:
    explicit Sink(std::vector<std::string>* log, std::string tag) : log_(log), tag_(std::move(tag)) {}
    STDMETHOD(GetTypeInfoCount)(UINT* n) override { return *n = 0, S_OK; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                      UINT*) override {
        log_->push_back(tag_ + ":" + std::to_string(id) + ":" + std::to_string(p->rgvarg[0].lVal));
        if (onEvent) onEvent();
        return E_FAIL;  // ignored by the source
    }
    std::function<void()> onEvent;

private:
    std::vector<std::string>* log_;
    std::string tag_;
};

TEST(ConnectionPoints, FireInConnectionOrderAndSurviveUnadviseDuringEvent) {
    auto shape = velk::rt::MakeObject<Shape>();
    ComPtr<IConnectionPointContainer> cpc;
    ASSERT_EQ(shape.As(&cpc), S_OK);
    ComPtr<IConnectionPoint> cp;
    ASSERT_EQ(cpc->FindConnectionPoint(DIID_ShapeEvents, cp.Put()), S_OK);
    ComPtr<IConnectionPoint> none;
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IShape, none.Put()), CONNECT_E_NOCONNECTION);

    std::vector<std::string> log;
    auto first = velk::rt::MakeObject<Sink>(&log, "a");
    auto second = velk::rt::MakeObject<Sink>(&log, "b");
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(cp->Advise(first->Unknown(), &c1), S_OK);
    ASSERT_EQ(cp->Advise(second->Unknown(), &c2), S_OK);
    EXPECT_NE(c1, c2);
    // The first sink disconnects the second during the event: the snapshot still reaches it.
    first->onEvent = [&] { cp->Unadvise(c2); };
    shape->put_Size(5);
    EXPECT_EQ(log, (std::vector<std::string>{"a:1:5", "b:1:5"}));
    shape->put_Size(6);
    EXPECT_EQ(log.back(), "a:1:6");
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(cp->Unadvise(c2), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(c1), S_OK);
    first->onEvent = nullptr;
}

TEST(ConnectionPoints, PointOutlivingItsContainerIsSafe) {
    ComPtr<IConnectionPoint> cp;
    {
        auto shape = velk::rt::MakeObject<Shape>();
        ComPtr<IConnectionPointContainer> cpc;
        shape.As(&cpc);
        cpc->FindConnectionPoint(DIID_ShapeEvents, cp.Put());
    }
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(cp->GetConnectionPointContainer(back.Put()), E_UNEXPECTED);
}

TEST(SnapshotEnumerator, NextSkipResetCloneResults) {
    std::vector<VARIANT> items(3);
    for (LONG i = 0; i < 3; ++i) {
        items[i].vt = VT_I4;
        items[i].lVal = i + 1;
    }
    ComPtr<IUnknown> unk;
    ASSERT_EQ(velk::rt::CreateSnapshotEnumerator(items.data(), items.size(), unk.Put()), S_OK);
    items[0].lVal = 100;  // the enumerator keeps its own copy
    ComPtr<IEnumVARIANT> e;
    ASSERT_EQ(unk.As(&e), S_OK);

    VARIANT out[4];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(0, out, &fetched), E_INVALIDARG);
    EXPECT_EQ(e->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(e->Next(2, out, nullptr), E_POINTER);
    EXPECT_EQ(e->Next(1, out, nullptr), S_OK);
    EXPECT_EQ(out[0].lVal, 1);
    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(e->Clone(clone.Put()), S_OK);
    EXPECT_EQ(e->Next(4, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(out[0].lVal, 2);
    EXPECT_EQ(out[1].lVal, 3);
    EXPECT_EQ(e->Next(1, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    // The clone kept the position it was cloned at.
    EXPECT_EQ(clone->Next(1, out, nullptr), S_OK);
    EXPECT_EQ(out[0].lVal, 2);
    EXPECT_EQ(clone->Skip(0), E_INVALIDARG);
    EXPECT_EQ(clone->Skip(1), S_OK);
    EXPECT_EQ(clone->Skip(1), S_FALSE);
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(clone->Skip(3), S_OK);
}

HRESULT CreateShape(REFIID iid, void** out) { return velk::rt::CreateInstanceOf<Shape>(iid, out); }

TEST(ClassRegistry, ProgIdsCreationAndFailureSeam) {
    velk::rt::RegisterClass(CLSID_Shape, "Test.Shape", &CreateShape);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Test.Shape", &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_Shape);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Shape.1", &clsid), S_OK);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Shap", &clsid), CO_E_CLASSSTRING);
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_Shape, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Test.Shape.1");
    CoTaskMemFree(progId);

    ComPtr<IShape> shape;
    EXPECT_EQ(CoCreateInstance(CLSID_Shape, nullptr, CLSCTX_INPROC_SERVER, IID_IShape,
                               shape.PutVoid()),
              S_OK);
    EXPECT_TRUE(shape);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Shape, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    velk::rt::SetCreationFailure(CLSID_Shape, E_OUTOFMEMORY);
    ComPtr<IShape> failed;
    EXPECT_EQ(CoCreateInstance(CLSID_Shape, nullptr, CLSCTX_INPROC_SERVER, IID_IShape,
                               failed.PutVoid()),
              E_OUTOFMEMORY);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShape, failed.PutVoid()), E_OUTOFMEMORY);
    velk::rt::SetCreationFailure(CLSID_Shape, S_OK);
    EXPECT_EQ(CoCreateInstance(GUID_NULL, nullptr, CLSCTX_INPROC_SERVER, IID_IShape,
                               failed.PutVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_Shape, nullptr, CLSCTX_INPROC_SERVER, IID_IShape, nullptr),
              E_POINTER);
    velk::rt::UnregisterClass(CLSID_Shape);
}

TEST(Objects, QueryInterfaceIdentityAndLiveCount) {
    long before = velk::rt::LiveObjectCount();
    {
        auto shape = velk::rt::MakeObject<Shape>();
        EXPECT_GE(velk::rt::LiveObjectCount(), before + 1);
        ComPtr<IUnknown> u1, u2;
        ComPtr<IDispatch> d;
        ASSERT_EQ(shape->QueryInterface(IID_IUnknown, u1.PutVoid()), S_OK);
        ASSERT_EQ(shape.As(&d), S_OK);
        ASSERT_EQ(d->QueryInterface(IID_IUnknown, u2.PutVoid()), S_OK);
        EXPECT_EQ(u1.Get(), u2.Get());
        ComPtr<ISupportErrorInfo> sei;
        ASSERT_EQ(shape.As(&sei), S_OK);
        EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IShape), S_OK);
        EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
        ComPtr<IStream> none;
        EXPECT_EQ(shape->QueryInterface(IID_IStream, none.PutVoid()), E_NOINTERFACE);
        EXPECT_EQ(shape->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

}  // namespace
