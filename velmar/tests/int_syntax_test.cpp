#include "velmar/int_syntax.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(IntegerSyntax, AcceptedTexts) {
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        // clang-format off
        {"x1F", 31}, {"$1f", 31}, {"0X1f", 31}, {"-$10", -16}, {"   5", 5}, {"+7", 7},
        {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}, {"$FFFFFFFF", -1},
        {"$000000001", 1}, {"-$80000000", INT32_MIN}, {"007", 7}, {"  -12", -12}, {"+$10", 16},
        {"-0", 0}, {"0", 0}, {"0x80000000", INT32_MIN}, {"-$FFFFFFFF", 1},
        {"$00000000FFFFFFFF", -1}, {"000000000002147483647", INT32_MAX},
        // clang-format on
    };
    for (const Case& c : cases) EXPECT_EQ(ParseInteger(c.text), c.value) << c.text;
}

TEST(IntegerSyntax, RefusedTextsGiveNothingOrZero) {
    // clang-format off
    const char* const refused[] = {
        "", " ", "5 ", "2147483648", "-2147483649", "+-1", "0x", "$", "$123456789", "\t5", "1e3",
        "x1G", "--1", "- 5", "0x-1", "$ 1", "99999999999999999999", "1,000", "0$1", "5\n", "0xx1",
        "+"};
    // clang-format on
    for (const char* text : refused) {
        EXPECT_EQ(ParseInteger(text), std::nullopt) << text;
        EXPECT_EQ(StrToIntOrZero(text), 0) << text;
    }
}

}  // namespace
}  // namespace velmar
