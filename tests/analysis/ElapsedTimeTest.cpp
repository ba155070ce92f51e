#include "analysis/ElapsedTime.h"

#include <gtest/gtest.h>

namespace signetrix {
namespace {

TEST(ElapsedTimeText, LeavesOutZeroParts)
{
    const struct { qint64 seconds; const char* text; } cases[] = {
        {0, ""}, {1, "1 sec"}, {59, "59 sec"}, {60, "1 min "}, {120, "2 min "}, {3600, "1 h "},
        {3723, "1 h 2 min 3 sec"}, {3603, "1 h 3 sec"}, {86399, "23 h 59 min 59 sec"},
        {86400, ""}, {86400 + 3661, "1 h 1 min 1 sec"}, {-5, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(ElapsedTimeText(c.seconds), QString::fromLatin1(c.text));
    }
}

} // namespace
} // namespace signetrix
