#include "base/Streams.h"
#include "base/Exceptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

TEST(MemoryStream, ReadWriteSeekAndOverwrite) {
    TMemoryStream m;
    m.WriteString("hello world");
    EXPECT_EQ(m.Size(), 11);
    m.SetPosition(6);
    m.WriteString("there!");
    EXPECT_EQ(m.View(), "hello there!");
    m.SetPosition(0);
    char buf[5];
    EXPECT_EQ(m.Read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    m.Seek(-1, soEnd);
    EXPECT_EQ(m.Read(buf, 5), 1);
    EXPECT_EQ(m.Read(buf, 5), 0);
    EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
    m.SetSize(5);
    EXPECT_EQ(m.Position(), 5);
    EXPECT_EQ(m.View(), "hello");
}

TEST(MemoryStream, LoadFromStreamTakesTheWholeSourceFromItsStart) {
    TMemoryStream src;
    src.WriteString("abcdef");
    src.SetPosition(3);
    TMemoryStream dst;
    dst.WriteString("old");
    dst.LoadFromStream(src);
    EXPECT_EQ(dst.View(), "abcdef");
    EXPECT_EQ(dst.Position(), 0);
    TMemoryStream copy;
    EXPECT_EQ(copy.CopyFrom(src, 0), 6);
    EXPECT_EQ(copy.View(), "abcdef");
}

TEST(FileStream, CreateWriteReadAndErrors) {
    const auto path = std::filesystem::temp_directory_path() / "pv-streams-test.bin";
    {
        TFileStream f(path.string(), fmCreate);
        f.WriteString(std::string("\0\r\n\xff", 4));
    }
    TMemoryStream m;
    m.LoadFromFile(path.string());
    EXPECT_EQ(m.View(), std::string_view("\0\r\n\xff", 4));
    std::filesystem::remove(path);

    EXPECT_THROW(TFileStream("/nonexistent-dir/x", fmOpenRead), EFOpenError);
    try {
        TFileStream("/nonexistent-dir/x", fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_NE(e.Message.find("Cannot create file \"/nonexistent-dir/x\""), std::string::npos);
    }
}

TEST(FileStream, FullDiskRaisesWriteErrorWithReason) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TFileStream f("/dev/full", fmOpenWrite);
    try {
        f.WriteString("data");
        FAIL();
    } catch (const EWriteError& e) {
        EXPECT_NE(e.Message.find("No space left"), std::string::npos) << e.Message;
    }
}
