// The key index of a section against a plain model of its contract: after
// every addition and removal, each name is answered by the first line of
// it still indexed, by Find and by FindRememberingAbsent alike, and exactly
// the answering lines are marked indexed.
#include "platform/host/profile/key_index.h"

#include "platform/host/profile/ascii_fold.h"
#include "platform/host/text/code_page.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

using host::ProfileKeyIndex;
using host::ProfileLine;

namespace {

struct Section {
    host::LeadBytes lead;
    host::TextArena arena;
    std::vector<ProfileLine> lines;
    ProfileKeyIndex index;

    uint32_t AddLine(const std::string &name)
    {
        ProfileLine line;
        line.text = arena.Append(name);
        line.length = line.key_length = static_cast<uint32_t>(name.size());
        line.kind = ProfileLine::kBare;
        lines.push_back(line);
        return static_cast<uint32_t>(lines.size() - 1);
    }
};

TEST(ProfileKeyIndex, NumberedNamesHashACacheLineApartAndCaseFree)
{
    for (const char *stem : {"softfont", "SoftFont", "a", "a long stem of many words "}) {
        for (uint32_t n : {1u, 9u, 10u, 123u, 99999u}) {
            std::string name = stem + std::to_string(n);
            std::string next = stem + std::to_string(n + 1);
            if (next.size() == name.size()) {
                EXPECT_EQ(ProfileKeyIndex::Hash(name) + 8, ProfileKeyIndex::Hash(next)) << name;
            }
            EXPECT_EQ(ProfileKeyIndex::Hash(name), ProfileKeyIndex::Hash(host::FoldAsciiCopy(name))) << name;
        }
    }
    // The count of digits is part of the name.
    EXPECT_NE(ProfileKeyIndex::Hash("softfont01"), ProfileKeyIndex::Hash("softfont1"));
}

// In a single-byte code page and in 932, where "\x83\x41" (ア) and
// "\x83\x61" (ャ) are two names but "\x83\x41x" and "\x83\x41X" one.
class KeyIndexModel : public testing::TestWithParam<unsigned> {};

TEST_P(KeyIndexModel, AnswersAsTheModelThroughGrowthRemovalsAndAbsentNames)
{
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back((i % 3 ? "softfont" : "Key") + std::to_string(i % 150));
    names.push_back("MFDFile");
    names.push_back("x");
    names.push_back("\x83\x41x");
    names.push_back("\x83\x61X");
    std::mt19937 random(14);
    Section s;
    s.lead = host::LeadBytes(host::CodePage::ForNumber(GetParam()));
    auto fold = [&s](const std::string &name) {
        std::string folded;
        host::FoldNameInto(name, folded, s.lead);
        return folded;
    };
    std::map<std::string, uint32_t> model;  // folded name -> the answering line
    auto check = [&](int step) {
        for (const std::string &name : names) {
            auto it = model.find(fold(name));
            long expected = it == model.end() ? -1 : static_cast<long>(it->second);
            ASSERT_EQ(expected, s.index.Find(s.lines, s.arena, s.lead, name)) << name << " at step " << step;
            ASSERT_EQ(expected, s.index.FindRememberingAbsent(s.lines, s.arena, s.lead, name))
                << name << " at step " << step;
        }
        for (uint32_t n = 0; n < s.lines.size(); ++n) {
            auto it = model.find(fold(std::string(host::LineName(s.arena, s.lines[n]))));
            ASSERT_EQ(it != model.end() && it->second == n, s.lines[n].indexed) << "line " << n;
        }
    };
    for (int step = 0; step < 3000; ++step) {
        std::string name = names[random() % names.size()];
        if (random() % 2) name = host::FoldAsciiCopy(name);
        auto it = model.find(fold(name));
        if (random() % 4 == 0 && it != model.end()) {
            s.index.Remove(s.lines, s.arena, it->second);
            s.lines[it->second].dead = true;
            model.erase(it);
        } else {
            uint32_t n = s.AddLine(name);
            if (random() % 2) {
                s.index.Add(s.lines, s.arena, s.lead, n);
            } else {
                uint32_t hash = 0;
                s.index.Find(s.lines, s.arena, s.lead, name, &hash);
                if (it == model.end()) EXPECT_EQ(ProfileKeyIndex::Hash(name), hash);
                s.index.Add(s.lines, s.arena, s.lead, n, ProfileKeyIndex::Hash(name));
            }
            model.emplace(fold(name), n);
        }
        if (step % 97 == 0) check(step);
        // Absent, remembered, then added: found.
        if (step == 1500) {
            EXPECT_EQ(-1, s.index.FindRememberingAbsent(s.lines, s.arena, s.lead, "neverseen"));
            uint32_t n = s.AddLine("NeverSeen");
            s.index.Add(s.lines, s.arena, s.lead, n);
            model.emplace("neverseen", n);
            EXPECT_EQ(static_cast<long>(n), s.index.FindRememberingAbsent(s.lines, s.arena, s.lead, "neverseen"));
        }
    }
    check(3000);
    s.index.Clear();
    EXPECT_EQ(-1, s.index.Find(s.lines, s.arena, s.lead, names[0]));
}

INSTANTIATE_TEST_SUITE_P(CodePages, KeyIndexModel, testing::Values(1252u, 932u));

}  // namespace
