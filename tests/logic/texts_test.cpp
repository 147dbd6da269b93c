// Forming the program's texts from format strings that come from a library
// outside the program: whatever the format holds, only the arguments passed
// are read and nothing is written past the room given.
#include "app/texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const unsigned char kGuard = 0xA5;
const int kGuardSize = 64;

// Forms a text into a buffer of `size` bytes that is followed by a guard
// region, and checks that the guard is untouched and the text ends within
// the buffer. The poisoned slot after the passed arguments shows up in the
// result if the forming reads one argument too many.
std::string Form(const std::string &format, std::vector<const char *> arguments, int size)
{
    std::vector<unsigned char> buffer(static_cast<size_t>(size) + kGuardSize, kGuard);
    int count = static_cast<int>(arguments.size());
    arguments.push_back("<NOT PASSED>");
    FormatText(reinterpret_cast<char *>(buffer.data()), size, format.c_str(), arguments.data(), count);
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i) {
        EXPECT_EQ(kGuard, buffer[i]) << "byte " << i << " past a buffer of " << size << " for \"" << format << "\"";
    }
    if (size <= 0) return std::string();
    size_t length = 0;
    while (length < static_cast<size_t>(size) && buffer[length] != 0) ++length;
    EXPECT_LT(length, static_cast<size_t>(size)) << "no terminating NUL within the buffer";
    return std::string(reinterpret_cast<char *>(buffer.data()), length);
}

TEST(FormatText, FillsInTheArgumentsInOrder)
{
    EXPECT_EQ("Maker Kit Font Setup", Form("%s %s Font Setup", {"Maker", "Kit"}, CAPTION_SIZE));
    EXPECT_EQ("Install Kit now?", Form("Install %s now?", {"Kit"}, MESSAGE_SIZE));
    EXPECT_EQ("KitMaker", Form("%s%s", {"Kit", "Maker"}, MESSAGE_SIZE));
    EXPECT_EQ("[] []", Form("[%s] [%s]", {"", ""}, CAPTION_SIZE));
    EXPECT_EQ("no conversion at all", Form("no conversion at all", {"Kit"}, MESSAGE_SIZE));
    EXPECT_EQ("", Form("", {"Kit"}, MESSAGE_SIZE));
    // The arguments are filled in as they are: a '%' in a name is no conversion.
    EXPECT_EQ("100% %s Kit", Form("%s Kit", {"100% %s"}, MESSAGE_SIZE));
}

TEST(FormatText, DoublePercentGivesOnePercent)
{
    EXPECT_EQ("100% Kit", Form("100%% %s", {"Kit"}, MESSAGE_SIZE));
    EXPECT_EQ("%s Kit", Form("%%s %s", {"Kit"}, MESSAGE_SIZE));
    EXPECT_EQ("%%", Form("%%%%", {}, MESSAGE_SIZE));
    EXPECT_EQ("%Kit", Form("%%%s", {"Kit"}, MESSAGE_SIZE));
}

TEST(FormatText, OtherConversionsStandAsWrittenAndTakeNoArgument)
{
    EXPECT_EQ("%d %n %x %p %c %f %ls %S Kit",
              Form("%d %n %x %p %c %f %ls %S %s", {"Kit"}, MESSAGE_SIZE));
    // Flags, widths and precisions make it another conversion, not "%s".
    EXPECT_EQ("%5s %-s %.3s %*s Maker", Form("%5s %-s %.3s %*s %s", {"Maker", "Kit"}, MESSAGE_SIZE));
    EXPECT_EQ("%1$s Kit", Form("%1$s %s", {"Kit"}, MESSAGE_SIZE));
    // A '%' at the very end, and one before a space.
    EXPECT_EQ("Kit 50% %", Form("%s 50% %", {"Kit"}, MESSAGE_SIZE));
}

TEST(FormatText, ConversionsBeyondTheArgumentsStandAsWritten)
{
    EXPECT_EQ("Kit %s %s", Form("%s %s %s", {"Kit"}, MESSAGE_SIZE));
    EXPECT_EQ("Maker Kit %s", Form("%s %s %s", {"Maker", "Kit"}, CAPTION_SIZE));
    EXPECT_EQ("%d %n %x Maker Kit %s", Form("%d %n %x %s %s %s", {"Maker", "Kit"}, CAPTION_SIZE));
    EXPECT_EQ("%s", Form("%s", {}, MESSAGE_SIZE));
}

TEST(FormatText, CutsTheResultToItsRoom)
{
    const std::string name255(255, 'K');
    // Caption: 255 characters at most, whether the cut falls in the format's
    // own text, in an argument or in a literal conversion.
    EXPECT_EQ("Maker " + std::string(249, 'K'), Form("%s %s Font Setup", {"Maker", name255.c_str()}, CAPTION_SIZE));
    EXPECT_EQ(std::string(255, 'x'), Form(std::string(400, 'x') + "%s", {"Kit"}, CAPTION_SIZE));
    EXPECT_EQ(std::string(253, 'x') + "%d", Form(std::string(253, 'x') + "%d%d", {"Kit"}, CAPTION_SIZE));
    EXPECT_EQ(std::string(254, 'x') + "%", Form(std::string(254, 'x') + "%%s", {"Kit"}, CAPTION_SIZE));
    EXPECT_EQ(std::string(254, 'x') + "%", Form(std::string(254, 'x') + "%s %s", {}, CAPTION_SIZE));
    // A result that fills its room exactly is not cut.
    EXPECT_EQ(std::string(250, 'x') + "Kit12", Form(std::string(250, 'x') + "%s12", {"Kit"}, CAPTION_SIZE));

    // Messages: 2047 characters at most.
    std::string format = "%s%s%n" + std::string(2040, 'Q');
    EXPECT_EQ(name255 + "%s%n" + std::string(1788, 'Q'), Form(format, {name255.c_str()}, MESSAGE_SIZE));
    EXPECT_EQ("Kit%s%n" + std::string(2040, 'Q'), Form(format, {"Kit"}, MESSAGE_SIZE));
    EXPECT_EQ(std::string(2047, 'z'), Form(std::string(5000, 'z'), {"Kit"}, MESSAGE_SIZE));
}

TEST(FormatText, TinyBuffers)
{
    EXPECT_EQ("", Form("%s", {"Kit"}, 1));
    EXPECT_EQ("K", Form("%s", {"Kit"}, 2));
    EXPECT_EQ("%", Form("%%", {}, 2));
    // No room at all: nothing is written, not even a NUL (the guard covers
    // the whole buffer).
    Form("%s", {"Kit"}, 0);
}

}  // namespace
