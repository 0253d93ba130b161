#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/object.h"
#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

using velk::ComPtr;

constexpr HRESULT kInvalidPointer = static_cast<HRESULT>(0x80030009u);

ULONGLONG SeekTo(IStream* s, LONGLONG offset, DWORD origin) {
    ULARGE_INTEGER at{};
    EXPECT_EQ(s->Seek(LARGE_INTEGER{offset}, origin, &at), S_OK);
    return at.QuadPart;
}

std::string ReadAll(IStream* s, ULONG max = 100) {
    std::string buffer(max, '\0');
    ULONG got = 0;
    EXPECT_EQ(s->Read(buffer.data(), max, &got), S_OK);
    buffer.resize(got);
    return buffer;
}

class MemoryStream : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK); }
    void TearDown() override {
        stream.Reset();
        EXPECT_EQ(velk::rt::LiveObjectCount(), before);
    }
    long before = velk::rt::LiveObjectCount();
    ComPtr<IStream> stream;
};

TEST_F(MemoryStream, ReadsBackWhatWasWrittenAndStopsAtTheEnd) {
    ULONG written = 0;
    ASSERT_EQ(stream->Write("hello\0world", 11, &written), S_OK);
    EXPECT_EQ(written, 11u);
    EXPECT_EQ(SeekTo(stream.Get(), 0, STREAM_SEEK_CUR), 11u);
    EXPECT_EQ(SeekTo(stream.Get(), 6, STREAM_SEEK_SET), 6u);
    EXPECT_EQ(ReadAll(stream.Get(), 3), "wor");
    EXPECT_EQ(ReadAll(stream.Get()), "ld");  // fewer than asked: what is there
    EXPECT_EQ(ReadAll(stream.Get()), "");
    EXPECT_EQ(SeekTo(stream.Get(), -11, STREAM_SEEK_END), 0u);
    EXPECT_EQ(ReadAll(stream.Get()), std::string("hello\0world", 11));
}

TEST_F(MemoryStream, SeekPastTheEndThenWriteZeroFillsTheGap) {
    stream->Write("ab", 2, nullptr);
    EXPECT_EQ(SeekTo(stream.Get(), 2, STREAM_SEEK_CUR), 4u);
    EXPECT_EQ(ReadAll(stream.Get()), "");
    stream->Write("z", 1, nullptr);
    SeekTo(stream.Get(), 0, STREAM_SEEK_SET);
    EXPECT_EQ(ReadAll(stream.Get()), std::string("ab\0\0z", 5));
}

TEST_F(MemoryStream, InvalidSeeksAndPointersFailWithoutMoving) {
    stream->Write("abc", 3, nullptr);
    ULARGE_INTEGER at{};
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{-4}, STREAM_SEEK_END, &at), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, 7, &at), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{INT64_MAX}, STREAM_SEEK_END, &at), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(SeekTo(stream.Get(), 0, STREAM_SEEK_CUR), 3u);
    EXPECT_EQ(stream->Read(nullptr, 1, nullptr), kInvalidPointer);
    EXPECT_EQ(stream->Write(nullptr, 1, nullptr), kInvalidPointer);
    SeekTo(stream.Get(), INT64_MAX - 1, STREAM_SEEK_SET);
    EXPECT_TRUE(FAILED(stream->Write("x", 1, nullptr)));  // beyond the largest stream
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
}

TEST_F(MemoryStream, SetSizeTruncatesOrZeroExtends) {
    stream->Write("abcdef", 6, nullptr);
    ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{2}), S_OK);
    SeekTo(stream.Get(), 0, STREAM_SEEK_SET);
    EXPECT_EQ(ReadAll(stream.Get()), "ab");
    ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{4}), S_OK);
    SeekTo(stream.Get(), 0, STREAM_SEEK_SET);
    EXPECT_EQ(ReadAll(stream.Get()), std::string("ab\0\0", 4));
}

TEST(MemoryStorage, StreamsAreKeptByNameAndReopenedAtTheStart) {
    const long before = velk::rt::LiveObjectCount();
    {
        ComPtr<IStorage> storage;
        ASSERT_EQ(VelkCreateMemoryStorage(storage.Put()), S_OK);
        {
            ComPtr<IStream> created;
            ASSERT_EQ(storage->CreateStream(u"Contents", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                            created.Put()),
                      S_OK);
            created->Write("saved", 5, nullptr);
        }
        ComPtr<IStream> opened;
        ASSERT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ, 0, opened.Put()), S_OK);
        EXPECT_EQ(ReadAll(opened.Get()), "saved");

        ComPtr<IStream> other;
        EXPECT_EQ(storage->OpenStream(u"Missing", nullptr, STGM_READ, 0, other.Put()), STG_E_FILENOTFOUND);
        EXPECT_EQ(other.Get(), nullptr);
        EXPECT_EQ(storage->CreateStream(u"Contents", STGM_READWRITE, 0, 0, other.Put()),
                  STG_E_FILEALREADYEXISTS);
        ASSERT_EQ(storage->CreateStream(u"Contents", STGM_CREATE | STGM_READWRITE, 0, 0, other.Put()), S_OK);
        EXPECT_EQ(ReadAll(other.Get()), "");  // replaced by an empty stream
        EXPECT_EQ(storage->OpenStream(nullptr, nullptr, STGM_READ, 0, other.Put()), kInvalidPointer);
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

}  // namespace
