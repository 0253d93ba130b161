// Automation runtime: the standard automation types, interfaces and functions, with
// OLECHAR = char16_t. Code written against this header reads like any automation code.
// Everything here is per thread unless stated otherwise: error information, the message
// loop and object reference counts are not shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#if defined(VELK_BUILDING_LIBRARY)
#define VELKAPI __attribute__((visibility("default")))
#else
#define VELKAPI
#endif

// ---------------------------------------------------------------------------------------
// Scalar types
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef char CHAR;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef float FLOAT;
typedef double DOUBLE;
typedef double DATE;
typedef uintptr_t UINT_PTR;
typedef int16_t VARIANT_BOOL;
typedef uint16_t VARTYPE;
typedef LONG DISPID;
typedef DWORD LCID;
typedef LONG MEMBERID;
typedef DWORD HREFTYPE;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef union tagCY { struct { ULONG Lo; LONG Hi; } s; LONGLONG int64; } CY;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// ---------------------------------------------------------------------------------------
// Results
#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = (HRESULT)0x80004001u;
constexpr HRESULT E_NOINTERFACE = (HRESULT)0x80004002u;
constexpr HRESULT E_POINTER = (HRESULT)0x80004003u;
constexpr HRESULT E_ABORT = (HRESULT)0x80004004u;
constexpr HRESULT E_FAIL = (HRESULT)0x80004005u;
constexpr HRESULT E_UNEXPECTED = (HRESULT)0x8000FFFFu;
constexpr HRESULT E_ACCESSDENIED = (HRESULT)0x80070005u;
constexpr HRESULT E_OUTOFMEMORY = (HRESULT)0x8007000Eu;
constexpr HRESULT E_INVALIDARG = (HRESULT)0x80070057u;
constexpr HRESULT CLASS_E_NOAGGREGATION = (HRESULT)0x80040110u;
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = (HRESULT)0x80040111u;
constexpr HRESULT REGDB_E_CLASSNOTREG = (HRESULT)0x80040154u;
constexpr HRESULT CO_E_CLASSSTRING = (HRESULT)0x800401F3u;
constexpr HRESULT CONNECT_E_NOCONNECTION = (HRESULT)0x80040200u;
constexpr HRESULT CONNECT_E_ADVISELIMIT = (HRESULT)0x80040201u;
constexpr HRESULT CONNECT_E_CANNOTCONNECT = (HRESULT)0x80040202u;
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = (HRESULT)0x80020001u;
constexpr HRESULT DISP_E_MEMBERNOTFOUND = (HRESULT)0x80020003u;
constexpr HRESULT DISP_E_PARAMNOTFOUND = (HRESULT)0x80020004u;
constexpr HRESULT DISP_E_TYPEMISMATCH = (HRESULT)0x80020005u;
constexpr HRESULT DISP_E_UNKNOWNNAME = (HRESULT)0x80020006u;
constexpr HRESULT DISP_E_NONAMEDARGS = (HRESULT)0x80020007u;
constexpr HRESULT DISP_E_BADVARTYPE = (HRESULT)0x80020008u;
constexpr HRESULT DISP_E_EXCEPTION = (HRESULT)0x80020009u;
constexpr HRESULT DISP_E_OVERFLOW = (HRESULT)0x8002000Au;
constexpr HRESULT DISP_E_BADINDEX = (HRESULT)0x8002000Bu;
constexpr HRESULT DISP_E_BADPARAMCOUNT = (HRESULT)0x8002000Eu;
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = (HRESULT)0x8002000Fu;
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = (HRESULT)0x8002801Du;
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = (HRESULT)0x8002802Bu;
constexpr HRESULT STG_E_FILENOTFOUND = (HRESULT)0x80030002u;
constexpr HRESULT STG_E_INVALIDFUNCTION = (HRESULT)0x80030001u;
constexpr HRESULT STG_E_READFAULT = (HRESULT)0x8003001Eu;
constexpr HRESULT STG_E_FILEALREADYEXISTS = (HRESULT)0x80030050u;

// ---------------------------------------------------------------------------------------
// GUIDs
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// ---------------------------------------------------------------------------------------
// VARIANT
enum VARENUM : VARTYPE {
    VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6,
    VT_DATE = 7, VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12,
    VT_UNKNOWN = 13, VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19,
    VT_I8 = 20, VT_UI8 = 21, VT_INT = 22, VT_UINT = 23, VT_VOID = 24, VT_HRESULT = 25,
    VT_PTR = 26, VT_SAFEARRAY = 27, VT_USERDEFINED = 29, VT_LPSTR = 30, VT_LPWSTR = 31,
    VT_ARRAY = 0x2000, VT_BYREF = 0x4000, VT_TYPEMASK = 0x0FFF
};

struct SAFEARRAY;
struct IUnknown;
struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
    };
};
typedef VARIANT VARIANTARG;

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};

// fFeatures flags
constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_SERVER = 0x15;
constexpr DWORD CLSCTX_ALL = 0x17;

constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
constexpr USHORT VARIANT_ALPHABOOL = 0x2;

// ---------------------------------------------------------------------------------------
// Type information
enum TYPEKIND { TKIND_ENUM = 0, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH,
                TKIND_COCLASS, TKIND_ALIAS, TKIND_UNION, TKIND_MAX };
enum FUNCKIND { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4,
                  INVOKE_PROPERTYPUTREF = 8 };
enum CALLCONV { CC_FASTCALL = 0, CC_CDECL = 1, CC_STDCALL = 4 };
enum VARKIND { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH };
enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };

constexpr USHORT PARAMFLAG_NONE = 0x00;
constexpr USHORT PARAMFLAG_FIN = 0x01;
constexpr USHORT PARAMFLAG_FOUT = 0x02;
constexpr USHORT PARAMFLAG_FLCID = 0x04;
constexpr USHORT PARAMFLAG_FRETVAL = 0x08;
constexpr USHORT PARAMFLAG_FOPT = 0x10;
constexpr USHORT PARAMFLAG_FHASDEFAULT = 0x20;

constexpr WORD TYPEFLAG_FAPPOBJECT = 0x01;
constexpr WORD TYPEFLAG_FCANCREATE = 0x02;
constexpr WORD TYPEFLAG_FCONTROL = 0x20;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;
constexpr WORD FUNCFLAG_FRESTRICTED = 0x1;
constexpr WORD FUNCFLAG_FHIDDEN = 0x40;
constexpr WORD IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr WORD IMPLTYPEFLAG_FSOURCE = 0x2;

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;
        HREFTYPE hreftype;
    };
    VARTYPE vt;
};
struct PARAMDESCEX {
    ULONG cBytes;
    VARIANTARG varDefaultValue;
};
struct PARAMDESC {
    PARAMDESCEX* pparamdescex;
    USHORT wParamFlags;
};
struct ELEMDESC {
    TYPEDESC tdesc;
    PARAMDESC paramdesc;
};
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
};
struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};
struct VARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    union {
        ULONG oInst;
        VARIANT* lpvarValue;
    };
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
};
struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

// ---------------------------------------------------------------------------------------
// Interfaces. Methods are plain virtual functions (no calling-convention decoration).
#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT name
#define STDMETHOD_(type, name) virtual type name

struct ITypeInfo;
struct ITypeLib;

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;

protected:
    ~IUnknown() = default;
};

struct IDispatch : IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                             DISPID* rgDispId) = 0;
    STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                      DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                      UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

struct ITypeInfo : IUnknown {
    STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) = 0;
    STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** ppFuncDesc) = 0;
    STDMETHOD(GetVarDesc)(UINT index, VARDESC** ppVarDesc) = 0;
    STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) = 0;
    STDMETHOD(GetImplTypeFlags)(UINT index, INT* pImplTypeFlags) = 0;
    STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    STDMETHOD(Invoke)(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    STDMETHOD(GetDocumentation)(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetContainingTypeLib)(ITypeLib** ppTLib, UINT* pIndex) = 0;
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) = 0;
    STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* pFuncDesc) = 0;
    STDMETHOD_(void, ReleaseVarDesc)(VARDESC* pVarDesc) = 0;

protected:
    ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
    STDMETHOD_(UINT, GetTypeInfoCount)() = 0;
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* pTKind) = 0;
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) = 0;
    STDMETHOD(GetDocumentation)(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) = 0;

protected:
    ~ITypeLib() = default;
};

struct IEnumVARIANT : IUnknown {
    STDMETHOD(Next)(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
    STDMETHOD(Skip)(ULONG celt) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumVARIANT** ppEnum) = 0;

protected:
    ~IEnumVARIANT() = default;
};

struct IConnectionPoint;
struct IConnectionPointContainer;

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IEnumConnections : IUnknown {
    STDMETHOD(Next)(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    STDMETHOD(Skip)(ULONG cConnections) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumConnections** ppEnum) = 0;

protected:
    ~IEnumConnections() = default;
};

struct IConnectionPoint : IUnknown {
    STDMETHOD(GetConnectionInterface)(IID* pIID) = 0;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) = 0;
    STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    STDMETHOD(Unadvise)(DWORD dwCookie) = 0;
    STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IEnumConnectionPoints : IUnknown {
    STDMETHOD(Next)(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    STDMETHOD(Skip)(ULONG cConnections) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumConnectionPoints** ppEnum) = 0;

protected:
    ~IEnumConnectionPoints() = default;
};

struct IConnectionPointContainer : IUnknown {
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) = 0;
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

struct IErrorInfo : IUnknown {
    STDMETHOD(GetGUID)(GUID* pGUID) = 0;
    STDMETHOD(GetSource)(BSTR* pBstrSource) = 0;
    STDMETHOD(GetDescription)(BSTR* pBstrDescription) = 0;
    STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) = 0;
    STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    STDMETHOD(SetGUID)(REFGUID rguid) = 0;
    STDMETHOD(SetSource)(LPOLESTR szSource) = 0;
    STDMETHOD(SetDescription)(LPOLESTR szDescription) = 0;
    STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) = 0;
    STDMETHOD(SetHelpContext)(DWORD dwHelpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    STDMETHOD(LockServer)(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

// Streams and storages (enough for control persistence).
union LARGE_INTEGER { LONGLONG QuadPart; };
union ULARGE_INTEGER { ULONGLONG QuadPart; };
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STGM_READ = 0x0;
constexpr DWORD STGM_WRITE = 0x1;
constexpr DWORD STGM_READWRITE = 0x2;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
constexpr DWORD STGM_CREATE = 0x1000;

struct IStream : IUnknown {
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
    STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
    STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) = 0;

protected:
    ~IStream() = default;
};

struct IStorage : IUnknown {
    STDMETHOD(CreateStream)(LPCOLESTR pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                            IStream** ppstm) = 0;
    STDMETHOD(OpenStream)(LPCOLESTR pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                          IStream** ppstm) = 0;

protected:
    ~IStorage() = default;
};

struct IPersist : IUnknown {
    STDMETHOD(GetClassID)(CLSID* pClassID) = 0;

protected:
    ~IPersist() = default;
};

struct IPersistStreamInit : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(Load)(IStream* pStm) = 0;
    STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) = 0;
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pCbSize) = 0;
    STDMETHOD(InitNew)() = 0;

protected:
    ~IPersistStreamInit() = default;
};

struct IPersistStorage : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(InitNew)(IStorage* pStg) = 0;
    STDMETHOD(Load)(IStorage* pStg) = 0;
    STDMETHOD(Save)(IStorage* pStgSave, BOOL fSameAsLoad) = 0;
    STDMETHOD(SaveCompleted)(IStorage* pStgNew) = 0;
    STDMETHOD(HandsOffStorage)() = 0;

protected:
    ~IPersistStorage() = default;
};

// ---------------------------------------------------------------------------------------
// Interface identifiers of the standard interfaces.
extern "C++" {
VELKAPI extern const GUID GUID_NULL;
VELKAPI extern const IID IID_NULL;
VELKAPI extern const IID IID_IUnknown;
VELKAPI extern const IID IID_IDispatch;
VELKAPI extern const IID IID_ITypeInfo;
VELKAPI extern const IID IID_ITypeLib;
VELKAPI extern const IID IID_IEnumVARIANT;
VELKAPI extern const IID IID_IConnectionPoint;
VELKAPI extern const IID IID_IConnectionPointContainer;
VELKAPI extern const IID IID_IEnumConnections;
VELKAPI extern const IID IID_IEnumConnectionPoints;
VELKAPI extern const IID IID_IErrorInfo;
VELKAPI extern const IID IID_ICreateErrorInfo;
VELKAPI extern const IID IID_ISupportErrorInfo;
VELKAPI extern const IID IID_IClassFactory;
VELKAPI extern const IID IID_IStream;
VELKAPI extern const IID IID_IStorage;
VELKAPI extern const IID IID_IPersist;
VELKAPI extern const IID IID_IPersistStreamInit;
VELKAPI extern const IID IID_IPersistStorage;
}

// ---------------------------------------------------------------------------------------
// Functions
extern "C++" {
// BSTR: length-prefixed UTF-16; a null BSTR is the empty text.
VELKAPI BSTR SysAllocString(const OLECHAR* psz);
VELKAPI BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
VELKAPI BSTR SysAllocStringByteLen(const char* psz, UINT len);
VELKAPI INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
VELKAPI void SysFreeString(BSTR bstr);
VELKAPI UINT SysStringLen(BSTR bstr);
VELKAPI UINT SysStringByteLen(BSTR bstr);
VELKAPI HRESULT VarBstrCmp(BSTR left, BSTR right, LCID lcid, ULONG flags);  // VARCMP_*

// VARIANT
VELKAPI void VariantInit(VARIANT* pvarg);
VELKAPI HRESULT VariantClear(VARIANT* pvarg);
VELKAPI HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);
VELKAPI HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc);
VELKAPI HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags,
                                  VARTYPE vt);

// SAFEARRAY
VELKAPI SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
VELKAPI SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
VELKAPI HRESULT SafeArrayDestroy(SAFEARRAY* psa);
VELKAPI HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
VELKAPI HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
VELKAPI HRESULT SafeArrayLock(SAFEARRAY* psa);
VELKAPI HRESULT SafeArrayUnlock(SAFEARRAY* psa);
VELKAPI HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
VELKAPI HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
VELKAPI UINT SafeArrayGetDim(SAFEARRAY* psa);
VELKAPI UINT SafeArrayGetElemsize(SAFEARRAY* psa);
VELKAPI HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
VELKAPI HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);
VELKAPI HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
VELKAPI HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
VELKAPI HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);

// Error information of the calling thread.
VELKAPI HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
VELKAPI HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Takes the thread's error information (the thread then has none); S_FALSE when there is none.
VELKAPI HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// Memory for out-strings of the class registry.
VELKAPI void* CoTaskMemAlloc(size_t cb);
VELKAPI void CoTaskMemFree(void* pv);

// Class registry (the object map registers the library's classes into it).
VELKAPI HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                 REFIID riid, void** ppv);
VELKAPI HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved,
                                 REFIID riid, void** ppv);
VELKAPI HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
// The versioned ProgID registered for the class; free it with CoTaskMemFree.
VELKAPI HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

// The type library registered under `libid` (any version at or above major.minor).
VELKAPI HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** pptlib);

// A growable memory stream (seekable, readable, writable) and a memory storage.
VELKAPI HRESULT CreateStreamOnHGlobal(void* hGlobal, BOOL fDeleteOnRelease, IStream** ppstm);
VELKAPI HRESULT VelkCreateMemoryStorage(IStorage** ppstg);

// ANSI code page (ISO-8859-1): every byte round-trips; other characters become '?'.
// Return the number of characters/bytes written, or needed when the output is null.
VELKAPI int VelkAnsiToWide(const char* src, int srcLen, OLECHAR* dst, int dstLen);
VELKAPI int VelkWideToAnsi(const OLECHAR* src, int srcLen, char* dst, int dstLen);

// Clocks: system time in 100-ns units since 1601-01-01 (UTC), monotonic milliseconds.
VELKAPI ULONGLONG VelkSystemTime100ns(void);
VELKAPI DWORD VelkTickCount(void);

// Dialogs: a host that can show modal dialogs installs a hook; without one, a dialog
// request shows nothing and succeeds (S_OK). The hook is process-wide.
typedef HRESULT (*VELK_DIALOG_HOOK)(LPCOLESTR caption, LPCOLESTR text, void* context);
VELKAPI void VelkSetDialogHook(VELK_DIALOG_HOOK hook, void* context);
VELKAPI HRESULT VelkShowDialog(LPCOLESTR caption, LPCOLESTR text);

// Thread message loop: one per thread, created on first use; every call acts on the calling
// thread's loop. Pump: runs what is ready now (tasks, due timers, ready descriptors) and
// returns how many ran; work arriving meanwhile runs in a later pump. Wait: waits up to the
// time-out (INFINITE: no limit) for work, then runs what is ready: S_OK when something ran,
// S_FALSE on time-out. Timers repeat until killed. The loop descriptor is readable while work
// is pending, for embedding the loop in another event loop.
constexpr DWORD INFINITE = 0xFFFFFFFFu;
VELKAPI UINT VelkPumpPendingMessages(void);
// Whether a pump may find work, for long work that pumps between short steps: FALSE means
// that a pump would run nothing, except a descriptor that became ready within the last
// millisecond. Posted tasks and due timers are seen without a system call; descriptors are
// polled (a zero-time wait) at most once per millisecond. FALSE when the thread has no loop.
VELKAPI BOOL VelkMessagesMayBePending(void);
VELKAPI HRESULT VelkWaitMessage(DWORD timeoutMs);
VELKAPI void VelkPostTask(void (*fn)(void*), void* context);
VELKAPI UINT_PTR VelkSetTimer(DWORD intervalMs, void (*fn)(void*), void* context);
VELKAPI BOOL VelkKillTimer(UINT_PTR timerId);
VELKAPI int VelkMessageLoopFd(void);
VELKAPI void VelkPostTask(std::function<void()> task);
VELKAPI UINT_PTR VelkSetTimer(DWORD intervalMs, std::function<void()> task);
}
