#include "base/StringList.h"
#include "base/Exceptions.h"
#include "base/Streams.h"

#include <gtest/gtest.h>

TEST(StringList, SplitsAtEveryKindOfLineEnd) {
    TStringList l;
    l.SetText("a\r\nb\rc\nd\n\re");
    // LF CR is two line ends: "d", then an empty line, then "e".
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
    l.SetText("x\r\n\r\n");
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"x", ""}));
    l.SetText("");
    EXPECT_EQ(l.Count(), 0);
    l.SetText(std::string("nul\0inside", 10));
    ASSERT_EQ(l.Count(), 1);
    EXPECT_EQ(l[0].size(), 10u);
}

TEST(StringList, TextWritesCrLfAndStreamsRoundTrip) {
    TStringList l{"one", "", "three"};
    EXPECT_EQ(l.Text(), "one\r\n\r\nthree\r\n");
    TMemoryStream m;
    l.SaveToStream(m);
    m.SetPosition(0);
    TStringList back;
    back.LoadFromStream(m);
    EXPECT_EQ(back, l);
}

TEST(StringList, SortedIgnoresDuplicatesWithoutRegardToCase) {
    TStringList l;
    l.SetSorted(true);
    l.Add("beta");
    l.Add("Alpha");
    l.Add("ALPHA");
    l.Add("gamma");
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(l.IndexOf("GAMMA"), 2);
    EXPECT_EQ(l.IndexOf("delta"), -1);
    EXPECT_THROW(l.Insert(0, "x"), EListError);

    TStringList u{"b", "a", "B"};
    u.SetSorted(true);
    EXPECT_EQ(u.Count(), 2);
}

TEST(StringList, IndexChecksRaiseListError) {
    TStringList l{"a"};
    EXPECT_THROW(l[1], EListError);
    EXPECT_THROW(l.Delete(-1), EListError);
    try {
        l.Delete(5);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message, "List index out of bounds (5)");
    }
}
