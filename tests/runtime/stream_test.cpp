#include <gtest/gtest.h>

#include <string>

#include "runtime/object.h"
#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

using velk::ComPtr;

ULONGLONG Seek(IStream* s, LONGLONG offset, DWORD origin) {
    ULARGE_INTEGER at{};
    EXPECT_EQ(s->Seek(LARGE_INTEGER{offset}, origin, &at), S_OK);
    return at.QuadPart;
}

std::string Read(IStream* s, ULONG max = 100) {
    std::string buffer(max, '\0');
    ULONG got = 0;
    EXPECT_EQ(s->Read(buffer.data(), max, &got), S_OK);
    buffer.resize(got);
    return buffer;
}

TEST(MemoryStream, ReadsWritesSeeksAndResizes) {
    const long before = velk::rt::LiveObjectCount();
    {
        ComPtr<IStream> stream;
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
        ULONG written = 0;
        ASSERT_EQ(stream->Write("hello\0world", 11, &written), S_OK);
        EXPECT_EQ(written, 11u);
        EXPECT_EQ(Seek(stream.Get(), -5, STREAM_SEEK_END), 6u);
        EXPECT_EQ(Read(stream.Get(), 3), "wor");
        EXPECT_EQ(Read(stream.Get()), "ld");  // fewer than asked: what is there
        EXPECT_EQ(Read(stream.Get()), "");

        EXPECT_EQ(Seek(stream.Get(), 2, STREAM_SEEK_CUR), 13u);  // past the end
        stream->Write("!", 1, nullptr);
        EXPECT_EQ(Seek(stream.Get(), 0, STREAM_SEEK_SET), 0u);
        EXPECT_EQ(Read(stream.Get()), std::string("hello\0world\0\0!", 14));

        ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{2}), S_OK);
        ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{4}), S_OK);
        Seek(stream.Get(), 0, STREAM_SEEK_SET);
        EXPECT_EQ(Read(stream.Get()), std::string("he\0\0", 4));
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

TEST(MemoryStream, InvalidRequestsFailWithoutMoving) {
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    stream->Write("abc", 3, nullptr);
    ULARGE_INTEGER at{};
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{-4}, STREAM_SEEK_END, &at), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, 7, &at), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{INT64_MAX}, STREAM_SEEK_END, &at), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(Seek(stream.Get(), 0, STREAM_SEEK_CUR), 3u);
    EXPECT_TRUE(FAILED(stream->Read(nullptr, 1, nullptr)));
    Seek(stream.Get(), INT64_MAX - 1, STREAM_SEEK_SET);
    EXPECT_TRUE(FAILED(stream->Write("x", 1, nullptr)));  // beyond the largest stream
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
}

TEST(MemoryStorage, StreamsAreKeptByNameAndReopenedAtTheStart) {
    const long before = velk::rt::LiveObjectCount();
    {
        ComPtr<IStorage> storage;
        ASSERT_EQ(VelkCreateMemoryStorage(storage.Put()), S_OK);
        ComPtr<IStream> stream;
        ASSERT_EQ(storage->CreateStream(u"Contents", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Put()),
                  S_OK);
        stream->Write("saved", 5, nullptr);
        ASSERT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ, 0, stream.Put()), S_OK);
        EXPECT_EQ(Read(stream.Get()), "saved");

        EXPECT_EQ(storage->OpenStream(u"Missing", nullptr, STGM_READ, 0, stream.Put()), STG_E_FILENOTFOUND);
        EXPECT_EQ(stream.Get(), nullptr);
        EXPECT_EQ(storage->CreateStream(u"Contents", STGM_READWRITE, 0, 0, stream.Put()), STG_E_FILEALREADYEXISTS);
        ASSERT_EQ(storage->CreateStream(u"Contents", STGM_CREATE | STGM_READWRITE, 0, 0, stream.Put()), S_OK);
        ASSERT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ, 0, stream.Put()), S_OK);
        EXPECT_EQ(Read(stream.Get()), "");  // replaced by an empty stream
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

}  // namespace
