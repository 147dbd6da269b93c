// The profile model: what it reads from a file's bytes, and that writing
// changes only the lines written.
#include "platform/host/profile_document.h"

#include <gtest/gtest.h>

using host::ProfileDocument;

namespace {

std::string Value(const ProfileDocument &doc, const char *section, const char *key)
{
    ProfileDocument::KeyValue kv;
    if (!doc.FindKey(section, key, &kv)) return "<absent>";
    return kv.has_value ? std::string(kv.value) : "<no value>";
}

TEST(ProfileDocument, WritesBackUntouchedFilesByteForByte)
{
    const std::string files[] = {
        "",
        "[a]\r\nk=v\r\n",
        "no section\nk=v\n[a]\n\n\n  spaced = value  \r\n;comment\rlone cr\r\n[b]",
        "[a]\r\nk=v",  // no final line end
        "\xEF\xBB\xBF[a]\r\nk=\xC3\xA9\xE2\x82\xAC\xE4\xB8\x80\r\n",
        std::string("\xFF\xFE[\0a\0]\0\r\0\n\0k\0=\0\x01\x4E\r\0\n\0", 22),
        std::string("[a]\r\nk=v\0w\r\n\x1A", 14),
    };
    for (const std::string &file : files) {
        EXPECT_EQ(file, ProfileDocument::Parse(file).Serialize());
    }
}

TEST(ProfileDocument, ReadsNamesAndValuesAsTheProfileRulesDo)
{
    ProfileDocument doc = ProfileDocument::Parse(
        "top=level\r\n"
        "[First]\r\n"
        "  Key One  =  value one  \r\n"
        "\tTabbed\t=\tt\t\r\n"
        "bare line\r\n"
        "=empty key\r\n"
        "empty value=\r\n"
        "dup=first\r\n"
        "dup=second\r\n"
        "[ spaced ]\r\n"
        "s=1\r\n"
        "[first]\r\n"
        "later=yes\r\n"
        "[\xC4rger]\r\n"
        "\xC9t\xE9=summer\r\n");
    EXPECT_EQ("value one", Value(doc, "first", "key one"));
    EXPECT_EQ("value one", Value(doc, "  FIRST ", " KEY ONE\t"));
    EXPECT_EQ("t", Value(doc, "First", "Tabbed"));
    EXPECT_EQ("<no value>", Value(doc, "First", "bare line"));
    // The platform finds no key by an empty name, though "=x" holds one.
    EXPECT_EQ("<absent>", Value(doc, "First", ""));
    EXPECT_EQ("", Value(doc, "First", "empty value"));
    EXPECT_EQ("first", Value(doc, "First", "dup"));
    // Only the first section of a name is read.
    EXPECT_EQ("<absent>", Value(doc, "First", "later"));
    // A header's name is trimmed.
    EXPECT_EQ("1", Value(doc, "spaced", "s"));
    // Only ASCII letters are compared without case.
    EXPECT_EQ("<absent>", Value(doc, "\xE4rger", "\xC9t\xE9"));
    EXPECT_EQ("summer", Value(doc, "\xC4RGER", "\xC9T\xE9"));
    EXPECT_FALSE(doc.HasSection("top"));
}

TEST(ProfileDocument, ReadsEncodedFilesInCodePage1252)
{
    ProfileDocument utf8 = ProfileDocument::Parse("\xEF\xBB\xBF[s]\r\nk=\xC3\xA9\xE2\x82\xAC\xE4\xB8\x80\r\n");
    EXPECT_EQ("\xE9\x80?", Value(utf8, "s", "k"));
    ProfileDocument utf16(ProfileDocument::Parse(std::string("\xFF\xFE[\0s\0]\0\n\0k\0=\0\xAC\x20\n\0", 18)));
    EXPECT_EQ("\x80", Value(utf16, "s", "k"));
}

TEST(ProfileDocument, PlacesNewKeysAfterTheLastLineOfTheirSection)
{
    ProfileDocument doc = ProfileDocument::Parse("[a]\r\nx=1\r\n; note\r\n\r\n\r\n[b]\r\ny=2");
    doc.SetValue("A", "new", "3");
    doc.SetValue("b", "z", "4");
    EXPECT_EQ("[a]\r\nx=1\r\n; note\r\nnew=3\r\n\r\n\r\n[b]\r\ny=2\r\nz=4\r\n", doc.Serialize());
}

TEST(ProfileDocument, PlacesNewSectionsAtTheEnd)
{
    ProfileDocument doc = ProfileDocument::Parse("[a]\nx=1\n\n");
    doc.SetValue(" New Section ", " key ", "  value  ");
    EXPECT_EQ("[a]\nx=1\n\n[New Section]\r\nkey=value  \r\n", doc.Serialize());

    ProfileDocument empty;
    empty.SetValue("s", "", "");
    EXPECT_EQ("[s]\r\n=\r\n", empty.Serialize());

    ProfileDocument no_end = ProfileDocument::Parse("[a]");
    no_end.SetValue("b", "k", "v");
    EXPECT_EQ("[a]\r\n[b]\r\nk=v\r\n", no_end.Serialize());
}

TEST(ProfileDocument, UpdatesAKeyInPlaceKeepingItsSpelling)
{
    ProfileDocument doc = ProfileDocument::Parse("[a]\r\n  MixedCase = old  \n;c\r\nbare\r\n");
    doc.SetValue("a", "mixedcase", "new");
    doc.SetValue("a", "BARE", "now");
    EXPECT_EQ("[a]\r\nMixedCase=new\n;c\r\nbare=now\r\n", doc.Serialize());
    // The same value again changes nothing.
    ProfileDocument same = ProfileDocument::Parse("[a]\r\nk =  v\r\n");
    same.SetValue("a", "k", "v");
    EXPECT_EQ("[a]\r\nk =  v\r\n", same.Serialize());
}

TEST(ProfileDocument, DeletesKeysAndSections)
{
    ProfileDocument doc = ProfileDocument::Parse(
        "[a]\r\nk=1\r\nK=2\r\nother=3\r\n\r\n[B]\r\nx=1\r\n[b]\r\ny=2\r\n[c]\r\n");
    EXPECT_TRUE(doc.DeleteKey("A", "k"));
    EXPECT_EQ("2", Value(doc, "a", "k"));  // the next line of that name is found now
    EXPECT_FALSE(doc.DeleteKey("a", "absent"));
    EXPECT_TRUE(doc.DeleteSection("b"));  // the first of that name
    EXPECT_EQ("2", Value(doc, "b", "y"));
    EXPECT_FALSE(doc.DeleteSection("absent"));
    EXPECT_EQ("[a]\r\nK=2\r\nother=3\r\n\r\n[b]\r\ny=2\r\n[c]\r\n", doc.Serialize());
    // A deleted section comes back at the end.
    doc.DeleteSection("a");
    doc.SetValue("a", "k", "v");
    EXPECT_EQ("[b]\r\ny=2\r\n[c]\r\n[a]\r\nk=v\r\n", doc.Serialize());
}

TEST(ProfileDocument, KeepsEncodingAndUntouchedLinesOfEncodedFiles)
{
    std::string file("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0\x01\x4E\r\0\n\0", 22);
    ProfileDocument doc = ProfileDocument::Parse(file);
    doc.SetValue("s", "n", "\xE9");
    EXPECT_EQ(file + std::string("n\0=\0\xE9\0\r\0\n\0", 10), doc.Serialize());
}

TEST(ProfileDocument, IndexesManyKeys)
{
    ProfileDocument doc;
    for (int i = 1; i <= 5000; ++i) doc.SetValue("s", "key" + std::to_string(i), std::to_string(i));
    for (int i = 1; i <= 5000; i += 2) doc.DeleteKey("s", "KEY" + std::to_string(i));
    for (int i = 1; i <= 5000; ++i) {
        std::string key = "Key" + std::to_string(i);
        EXPECT_EQ(i % 2 ? "<absent>" : std::to_string(i), Value(doc, "S", key.c_str())) << i;
    }
}

}  // namespace
