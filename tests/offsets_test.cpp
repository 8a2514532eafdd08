#include <gtest/gtest.h>
#include "support/seghelp.h"
#include "wavefile/wavefile.h"

static void SetFormat(DWORD bytesPerSec, short blockalign)
{
    WaveDocument.BytesPerSec = bytesPerSec;
    WaveDocument.blockalign = blockalign;
}

TEST(ParseSeconds, ReadsTheLeadingDecimalNumber)
{
    struct Case { const char *text; double seconds; };
    const Case cases[] = {
        { "1.5", 1.5 },          { "  2.25", 2.25 },     { "\t3", 3.0 },
        { "3.5abc", 3.5 },       { "12.00000 s", 12.0 }, { "-1.5", -1.5 },
        { "+0.75", 0.75 },       { ".5", 0.5 },          { "7.", 7.0 },
        { "1e2", 100.0 },        { "2.5E-1", 0.25 },     { "1e", 1.0 },
        { "4e+", 4.0 },          { "1.2.3", 1.2 },       { "", 0.0 },
        { "   ", 0.0 },          { "abc", 0.0 },         { "-", 0.0 },
        { ".", 0.0 },            { "inf", 0.0 },         { "nan", 0.0 },
        { "0x10", 0.0 },         { "-0X1p3", 0.0 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(c.seconds, ParseSeconds(c.text));
    }
}

TEST(ParseSeconds, LongNumbersAreReadWhole)
{
    std::string digits(300, '9');
    EXPECT_DOUBLE_EQ(1e300, ParseSeconds(digits.c_str()));
}

TEST(SecondsToOffset, TruncatesThenCutsToWholeBlocks)
{
    struct Case { DWORD perSec; short align; double seconds; LONG offset; };
    const Case cases[] = {
        { 176400, 4, 1.0, 176400 },
        { 176400, 4, 0.00001, 0 },           /* 1.764 bytes */
        { 176400, 4, 0.0000113, 0 },         /* 1.993 bytes */
        { 176400, 4, 0.00003, 4 },           /* 5.292 bytes */
        { 176400, 4, 2.5, 441000 },
        { 132300, 3, 0.00001, 0 },           /* 1.323 bytes */
        { 132300, 3, 0.0001, 12 },           /* 13.23 bytes */
        { 44100, 1, 0.99999, 44099 },
        { 176400, 4, -0.00003, -4 },         /* toward zero */
        { 176400, 4, 0.0, 0 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.perSec << " B/s, align " << c.align << ", " << c.seconds << " s");
        SetFormat(c.perSec, c.align);
        EXPECT_EQ(c.offset, SecondsToOffset(c.seconds));
    }
}

TEST(SecondsToOffset, HugeValuesAreClampedToWholeBlocks)
{
    SetFormat(176400, 4);
    EXPECT_EQ(2147483644L, SecondsToOffset(1e30));
    EXPECT_EQ(2147483644L, SecondsToOffset(ParseSeconds("1e999")));
    EXPECT_EQ(-2147483647L - 1, SecondsToOffset(-1e30));
    SetFormat(132300, 3);
    EXPECT_EQ(2147483646L, SecondsToOffset(1e30));
}

TEST(SecondsToOffset, MissingFormatValuesGiveNoUndefinedResult)
{
    SetFormat(0, 4);
    EXPECT_EQ(0, SecondsToOffset(ParseSeconds("1e999")));
    SetFormat(176400, 0);
    EXPECT_EQ(176400, SecondsToOffset(1.0));
    SetFormat(176400, -1);
    EXPECT_EQ(-2147483647L - 1, SecondsToOffset(-1e30));
}

TEST(TextToOffset, ParsesAndConverts)
{
    SetFormat(176400, 4);
    EXPECT_EQ(264600, TextToOffset("  1.5s"));
    EXPECT_EQ(0, TextToOffset("start"));
    EXPECT_EQ(176400, TextToOffset("1.00000"));
}

/* Times convert as double products: 1.2 s at 44100 bytes a second is
   52920 bytes; 0.7 s gives 30869.999... and so 30868. Extended-precision
   intermediates would put both cuts elsewhere. */
TEST(TextToOffset, TimesConvertAsDoubleProducts)
{
    struct { const char *text; DWORD bytesPerSec; short align; LONG offset; } cases[] = {
        { "1.20000", 44100, 4, 52920 },   { "1.20000", 22050, 1, 26460 },
        { "0.70000", 44100, 4, 30868 },   { "0.70000", 96000, 6, 67200 },
        { "2.30000", 176400, 4, 405716 }, { "0.10000", 44100, 4, 4408 },
        { "4.35000", 22050, 1, 95917 },   { "4.35000", 96000, 6, 417594 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.text << " at " << c.bytesPerSec);
        SetFormat(c.bytesPerSec, c.align);
        EXPECT_EQ(c.offset, TextToOffset(c.text));
    }
}
