#include "platform/Ansi.h"

#include <gtest/gtest.h>

TEST(Ansi, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    const QString q = AnsiToQ(all);
    EXPECT_EQ(q.size(), 256);
    EXPECT_EQ(QToAnsi(q), all);
    EXPECT_EQ(AnsiToQ("Caf\xe9 \x80"), QString::fromUtf8("Café €"));
    EXPECT_EQ(QToAnsi(QString::fromUtf8("Ω")), "?");
}
