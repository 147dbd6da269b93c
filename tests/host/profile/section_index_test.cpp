// The sections of a name, and the last look-up that is kept: every change
// to the index is seen by the next look-up, whichever name it asked.
#include "platform/host/profile/section_index.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> Named(const host::ProfileSectionIndex &index, const char *name, bool trim = true)
{
    const std::vector<uint32_t> *found = index.Find(name, trim);
    return found ? *found : std::vector<uint32_t>{};
}

TEST(ProfileSectionIndex, FindsEverySectionOfANameInOrderAndForgetsTheFirstWhenRemoved)
{
    host::ProfileSectionIndex index;
    index.Add("Ports", 1);
    index.Add("fonts", 2);
    index.Add("PORTS", 3);
    EXPECT_EQ((std::vector<uint32_t>{1, 3}), Named(index, " ports\t"));
    EXPECT_EQ(std::vector<uint32_t>{}, Named(index, " ports\t", false));  // not trimmed: no such name
    EXPECT_EQ((std::vector<uint32_t>{1, 3}), Named(index, "ports", false));

    uint32_t removed = 0;
    ASSERT_TRUE(index.RemoveFirst(" Ports ", &removed));
    EXPECT_EQ(1u, removed);
    EXPECT_EQ(std::vector<uint32_t>{3}, Named(index, "ports", false));
    ASSERT_TRUE(index.RemoveFirst("ports", &removed));
    EXPECT_EQ(3u, removed);
    EXPECT_FALSE(index.RemoveFirst("ports", &removed));
    EXPECT_EQ(std::vector<uint32_t>{}, Named(index, "ports", false));
}

// A name asked and found absent, then added: the kept answer must not
// hide it; asked again with and without trimming, each gets its own answer.
TEST(ProfileSectionIndex, TheKeptAnswerNeverOutlivesAChange)
{
    host::ProfileSectionIndex index;
    EXPECT_EQ(std::vector<uint32_t>{}, Named(index, "new"));
    index.Add("NEW", 7);
    EXPECT_EQ(std::vector<uint32_t>{7}, Named(index, "new"));
    EXPECT_EQ(std::vector<uint32_t>{7}, Named(index, " new "));
    EXPECT_EQ(std::vector<uint32_t>{}, Named(index, " new ", false));
    EXPECT_EQ(std::vector<uint32_t>{7}, Named(index, " new "));
    index.Add("new", 9);
    EXPECT_EQ((std::vector<uint32_t>{7, 9}), Named(index, " new "));
}

}  // namespace
