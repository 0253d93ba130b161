// The MIB image reader behind Load of a ".bin" file (layout in mib/image_format.h).
//
// Every field is read through a cursor that never passes the end of the file; a record
// count read from the file only bounds a loop (a record starts only with 10 bytes left and
// consumes at least one), it never sizes an allocation.
#include <new>
#include <string>
#include <string_view>

#include "mib/ansi_text.h"
#include "mib/image_format.h"
#include "mib/image_stream.h"
#include "mib/loaders.h"
#include "mib/mib_errors.h"
#include "model/trap.h"
#include "model/variable.h"
#include "sock/velk_strings.h"
#include "velk/snmp.h"

namespace velk::mib {
namespace {

// The fields of an image, read through the stream. A field cut short by the end of the
// file reads what is there and leaves the cursor at the end.
class ImageCursor {
public:
    explicit ImageCursor(ImageStream& stream) : stream_(stream) {}

    // Whether at least `n` bytes are left.
    bool HasAhead(size_t n) { return stream_.Ahead(n) == n; }

    // A number field: bits 23..0 from bytes 1..3 (0 when fewer than four bytes are left).
    uint32_t Number() {
        const size_t left = stream_.Ahead(image::kNumberSize);
        const uint8_t* p = stream_.Cursor();
        const uint32_t value = left >= 4 ? uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3] : 0;
        stream_.Skip(left);
        return value;
    }

    // A text field's stored bytes (valid until the next read), the cursor moved past its
    // terminator. Without a terminator before the end of the file the text is empty and the
    // cursor stays.
    std::string_view StoredText() {
        const size_t n = stream_.FindByte(image::kFieldEnd);
        if (n == ImageStream::npos) return {};
        const std::string_view text(reinterpret_cast<const char*>(stream_.Cursor()), n);
        stream_.Skip(n + 1);
        return text;
    }

private:
    ImageStream& stream_;
};

// Writes the text of stored bytes to `out`, which has room for stored.size() characters.
void Decode(std::string_view stored, char16_t* out) {
    for (size_t i = 0; i < stored.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<uint8_t>(stored[i]) ^ image::kTextFlip);
}

// The text of stored bytes as a new BSTR; null for an empty text. Throws std::bad_alloc.
BSTR DecodeText(std::string_view stored) {
    if (stored.empty()) return nullptr;
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(stored.size()));
    if (!text) throw std::bad_alloc();
    Decode(stored, text);
    return text;
}

static_assert(image::kListSeparator < 0x80);
constexpr char kStoredSeparator = static_cast<char>(image::kListSeparator ^ image::kTextFlip);

class ImageReader {
public:
    ImageReader(MibStore& store, std::u16string_view fileName, ImageStream& stream)
        : store_(store), fileName_(fileName), cursor_(stream) {}

    HRESULT Run() {
        const char16_t separator[] = {image::kListSeparator, 0};
        separator_ = Bstr(separator);
        if (!separator_.Get()) return E_OUTOFMEMORY;
        try {
            const uint32_t variables = cursor_.Number();
            for (uint32_t i = 0; i < variables; ++i) {
                if (!cursor_.HasAhead(image::kMinRecordBytes)) return Truncated(i);
                if (HRESULT hr = ReadVariable(); FAILED(hr)) return hr;
            }
            const uint32_t traps = cursor_.Number();
            for (uint32_t i = 0; i < traps; ++i) {
                if (!cursor_.HasAhead(image::kMinRecordBytes)) return Truncated(i);
                if (HRESULT hr = ReadTrap(); FAILED(hr)) return hr;
            }
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    HRESULT Truncated(uint32_t record) {
        return FormatCompileError(fileName_, kMsgIllegalImage, record, std::string_view());
    }

    LONG RecordNumber() { return image::SignExtend24(cursor_.Number()); }
    BSTR Text() { return DecodeText(cursor_.StoredText()); }

    // A new collection whose Delimiter is the separator, holding the stored list text
    // split at it, as Add would split it.
    HRESULT NewList(std::string_view stored, ComPtr<IVelkStrings>* out) {
        if (HRESULT hr = sock::CreateVelkStrings(out->Put()); FAILED(hr)) return hr;
        if (HRESULT hr = (*out)->put_Delimiter(separator_.Get()); FAILED(hr)) return hr;
        sock::VelkStrings* list = sock::AsVelkStrings(out->Get());
        if (!list) return E_UNEXPECTED;
        for (;;) {
            const size_t end = stored.find(kStoredSeparator);
            const std::string_view part = stored.substr(0, end);
            std::u16string entry(part.size(), u'\0');
            Decode(part, entry.data());
            list->Append(std::move(entry));
            if (end == std::string_view::npos) return S_OK;
            stored.remove_prefix(end + 1);
        }
    }

    // The next stored text, decoded into `buffer` (reused from record to record).
    std::u16string_view TextInto(std::u16string& buffer) {
        const std::string_view stored = cursor_.StoredText();
        buffer.resize(stored.size());
        Decode(stored, buffer.data());
        return buffer;
    }

    // The record's texts are gathered first, so that the variable is made with all of them
    // in one allocation.
    HRESULT ReadVariable() {
        model::SnmpVariable::TextFields texts;
        texts.name = TextInto(name_);
        texts.oid = TextInto(oid_);
        const LONG access = RecordNumber();
        texts.description = TextInto(description_);
        list_.assign(cursor_.StoredText());  // a view of the stream's buffer: copied before it moves on
        texts.reference = TextInto(reference_);
        const LONG status = RecordNumber();
        texts.syntax = TextInto(syntax_);
        const LONG type = RecordNumber();
        texts.value = TextInto(value_);
        auto v = ComPtr<model::SnmpVariable>::Adopt(model::SnmpVariable::NewWithFields(texts));
        if (!v) return E_OUTOFMEMORY;
        v->SetAccess(access);
        v->SetStatus(status);
        v->SetType(type);
        // An empty list leaves the variable its own empty Index (as a trap keeps its Oids).
        if (!list_.empty()) {
            ComPtr<IVelkStrings> index;
            if (HRESULT hr = NewList(list_, &index); FAILED(hr)) return hr;
            v->ReplaceIndex(index.Get());
        }
        store_.Variables().AppendOwned(v.Detach());
        return S_OK;
    }

    HRESULT ReadTrap() {
        ComPtr<model::SnmpTrap> trap;
        if (HRESULT hr = model::CreateSnmpTrap(&trap); FAILED(hr)) return hr;
        trap->SetSpecificTrap(RecordNumber());
        trap->SetStatus(static_cast<StatusConstants>(RecordNumber()));
        trap->SetDescription(Bstr::Adopt(Text()));
        trap->SetEnterprise(Bstr::Adopt(Text()));
        trap->SetName(Bstr::Adopt(Text()));
        // An empty list leaves the trap its own empty Oids.
        if (const std::string_view list = cursor_.StoredText(); !list.empty()) {
            ComPtr<IVelkStrings> oids;
            if (HRESULT hr = NewList(list, &oids); FAILED(hr)) return hr;
            trap->ReplaceOids(oids.Get());
        }
        trap->SetReference(Bstr::Adopt(Text()));
        return store_.Traps().AppendOwned(trap.Detach());
    }

    MibStore& store_;
    std::u16string_view fileName_;
    ImageCursor cursor_;
    Bstr separator_;
    std::u16string name_, oid_, description_, reference_, syntax_, value_;  // field buffers
    std::string list_;
};

}  // namespace

HRESULT LoadMibImage(MibStore& store, BSTR fileName) {
    const std::u16string_view name = BstrView(fileName);
    ImageStream stream;
    // A file that cannot be read, or of 10 bytes or fewer, is no image.
    if (!stream.Open(Narrow(name), MibSource::kMaxFileSize) ||
        stream.Ahead(image::kHeaderSize + 1) <= image::kHeaderSize)
        return ReportNoFile(name);
    if (stream.Cursor()[4] != image::kFieldEnd || stream.Cursor()[9] != image::kFieldEnd)
        return ReportMibError(ulFile, FormatMessageText(kMsgIllegalImage, {}));
    stream.Skip(image::kReservedSize);
    ImageReader reader(store, name, stream);
    return reader.Run();
}

}  // namespace velk::mib
