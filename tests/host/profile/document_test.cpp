// The profile model: what it reads from a file's bytes, and that writing
// changes only the lines written.
#include "platform/host/profile/document.h"

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

// Names are compared and hashed eight bytes at a time; only the ASCII
// capitals fold, at every position of a word and of its tail.
TEST(ProfileDocument, FoldsOnlyAsciiCapitalsAtEveryPositionOfAName)
{
    for (std::size_t length : {1u, 7u, 8u, 9u, 16u, 19u}) {
        for (int byte = 1; byte < 256; ++byte) {
            if (byte == '=' || byte == '[' || byte == '\r' || byte == '\n' || host::IsProfileSpace(byte)) continue;
            std::size_t at = static_cast<std::size_t>(byte) % length;
            std::string name(length, 'k');
            name[at] = static_cast<char>(byte);
            ProfileDocument doc;
            doc.SetValue("s", name, "v");
            bool capital = byte >= 'A' && byte <= 'Z';
            bool small = byte >= 'a' && byte <= 'z';
            std::string other = name;
            other[at] = static_cast<char>(capital ? byte + 32 : small ? byte - 32 : byte ^ 0x20);
            for (char &c : other) {
                if (c == 'k') c = 'K';
            }
            // The other spelling is the same name exactly when the byte is a letter.
            bool same = capital || small;
            if (host::IsProfileSpace(static_cast<unsigned char>(other[at])) || other[at] == '=' ||
                other[at] == '[' || other[at] == '\0')
                continue;
            EXPECT_EQ(same ? "v" : "<absent>", Value(doc, "S", other.c_str()))
                << "byte " << byte << " at " << at << " of " << length;
        }
    }
}

// Names that differ only in a trailing number, with and without leading
// zeros, stay apart; and a section keeps them apart past every growth of
// its index.
TEST(ProfileDocument, KeepsNumberedNamesApart)
{
    ProfileDocument doc;
    for (int i = 1; i <= 70000; ++i) doc.SetValue("s", "softfont" + std::to_string(i), std::to_string(i));
    doc.SetValue("s", "softfont01", "leading zero");
    doc.SetValue("s", "softfont", "no number");
    doc.SetValue("s", "softfont1234567890123", "long number");
    EXPECT_EQ("1", Value(doc, "s", "SOFTFONT1"));
    EXPECT_EQ("leading zero", Value(doc, "s", "softfont01"));
    EXPECT_EQ("no number", Value(doc, "s", "softfont"));
    EXPECT_EQ("long number", Value(doc, "s", "softfont1234567890123"));
    EXPECT_EQ("<absent>", Value(doc, "s", "softfont001"));
    for (int i = 70000; i >= 1; i -= 997) EXPECT_EQ(std::to_string(i), Value(doc, "s", ("softFont" + std::to_string(i)).c_str()));
    EXPECT_EQ("<absent>", Value(doc, "s", "softfont70001"));
}

// Texts written later lie in blocks of their own; the file comes out whole
// whatever their sizes, one over a block's size included.
TEST(ProfileDocument, WritesOutTextsOfEverySize)
{
    ProfileDocument doc = ProfileDocument::Parse("[s]\r\nfirst=1\r\n");
    std::string expected = "[s]\r\nfirst=1\r\n";
    const std::size_t sizes[] = {0, 1, 1000, (1u << 20) - 3, 1u << 20, (1u << 20) + 1, 3u << 20, 17};
    int n = 0;
    for (std::size_t size : sizes) {
        std::string key = "k" + std::to_string(n++);
        std::string value(size, static_cast<char>('a' + n));
        doc.SetValue("s", key, value);
        expected += key + "=" + value + "\r\n";
    }
    doc.SetValue("s", "first", "2");  // rewritten in its old place
    expected.replace(expected.find("first=1"), 7, "first=2");
    doc.SetValue("s", "k2", std::string(2000, 'z'));  // no longer fits its old place
    expected.replace(expected.find("k2="), 3 + 1000, "k2=" + std::string(2000, 'z'));
    EXPECT_EQ(expected, doc.Serialize());
}

// A value read from the document itself can be written back over the line
// it came from (the places overlap; the sanitizer build checks the copy).
TEST(ProfileDocument, WritesAValueTakenFromItsOwnText)
{
    ProfileDocument doc = ProfileDocument::Parse("[s]\r\na=long value\r\nb=x\r\n");
    ProfileDocument::KeyValue kv;
    ASSERT_TRUE(doc.FindKey("s", "a", &kv));
    doc.SetValue("s", "a", kv.value.substr(1));
    ASSERT_TRUE(doc.FindKey("s", "a", &kv));
    doc.SetValue("s", "b", kv.value);
    EXPECT_EQ("[s]\r\na=ong value\r\nb=ong value\r\n", doc.Serialize());

    // Its own name as its value, from behind leading white space that the
    // new text no longer has.
    doc = ProfileDocument::Parse("[s]\r\n   name = old value\r\n");
    ASSERT_TRUE(doc.FindKey("s", "name", &kv));
    doc.SetValue("s", "name", kv.key);
    EXPECT_EQ("[s]\r\nname=name\r\n", doc.Serialize());
}

// Lines go out in runs where they lie one after another with their line
// ends; keys added to two sections in turn, rewritten with texts of the
// same, a shorter and a longer length, and deleted, still come out in
// order.
TEST(ProfileDocument, WritesLinesAddedInTurnToTwoSectionsInOrder)
{
    ProfileDocument doc = ProfileDocument::Parse("[a]\r\nx=1\r\n[b]\ny=2");
    std::string a = "[a]\r\nx=1\r\n", b = "[b]\ny=2\r\n";
    for (int i = 0; i < 5; ++i) {
        doc.SetValue("a", "ka" + std::to_string(i), "va" + std::to_string(i));
        doc.SetValue("b", "kb" + std::to_string(i), "vb" + std::to_string(i));
        a += "ka" + std::to_string(i) + "=va" + std::to_string(i) + "\r\n";
        b += "kb" + std::to_string(i) + "=vb" + std::to_string(i) + "\r\n";
    }
    doc.SetValue("a", "ka1", "XX1");  // same length
    doc.SetValue("a", "ka2", "Y");    // shorter
    doc.SetValue("b", "kb3", "longer value");
    doc.DeleteKey("b", "kb1");
    a.replace(a.find("ka1=va1"), 7, "ka1=XX1");
    a.replace(a.find("ka2=va2"), 7, "ka2=Y");
    b.replace(b.find("kb3=vb3"), 7, "kb3=longer value");
    b.erase(b.find("kb1=vb1\r\n"), 9);
    EXPECT_EQ(a + b, doc.Serialize());
}

// A name found absent by one deletion is deleted by the next once it has
// been written in between, in the section and in a second of the same
// name.
TEST(ProfileDocument, DeletesANameWrittenAfterItWasFoundAbsent)
{
    ProfileDocument doc = ProfileDocument::Parse("[s]\r\na=1\r\n[s]\r\n");
    EXPECT_FALSE(doc.DeleteKey("s", "MFDFile"));
    EXPECT_FALSE(doc.DeleteKey("s", "mfdfile"));
    doc.SetValue("s", "MFDFILE", "x");
    EXPECT_EQ("x", Value(doc, "s", "MFDFile"));
    EXPECT_TRUE(doc.DeleteKey("s", "MFDFile"));
    EXPECT_EQ("<absent>", Value(doc, "s", "MFDFile"));
    EXPECT_FALSE(doc.DeleteKey("s", "MFDFile"));
    EXPECT_EQ("[s]\r\na=1\r\n[s]\r\n", doc.Serialize());
}

}  // namespace
