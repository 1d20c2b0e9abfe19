#include "relay/http/Query.h"

#include <gtest/gtest.h>

using namespace quillet::relay;

TEST(Query, PercentDecodeCopiesPlainRunsAndDecodesEscapes) {
    struct Case {
        std::string text;
        bool plusIsSpace;
        std::optional<std::string> decoded;
    };
    const Case cases[] = {
        {"", false, ""},
        {"plain-text_1.2~", false, "plain-text_1.2~"},
        {"%41bc", false, "Abc"},
        {"ab%2f%2F", false, "ab//"},
        {"a%20b%E4%BD%A0c", false,
         "a b\xE4\xBD\xA0"
         "c"},
        {"%00x", false, std::string("\0x", 2)},
        {"a+b", false, "a+b"},
        {"a+b+", true, "a b "},
        {"%2B+", true, "+ "},
        {"%25%41", false, "%A"},
        {"%", false, std::nullopt},
        {"ab%4", false, std::nullopt},
        {"%4g", false, std::nullopt},
        {"%g4tail", false, std::nullopt},
        {"ok%zz", true, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PercentDecode(c.text, c.plusIsSpace), c.decoded) << c.text;
    }
}

TEST(Query, ParseQueryKeepsOrderRepeatsAndBounds) {
    Params params;
    ASSERT_EQ(ParseQuery("a=1&&b=%32&a=x+y&flag&=v", params), QueryError::none);
    const Params expected = {{"a", "1"}, {"b", "2"}, {"a", "x+y"}, {"flag", ""}, {"", "v"}};
    EXPECT_EQ(params, expected);

    Params form;
    ASSERT_EQ(ParseQuery("name=a+b", form, {}, true), QueryError::none);
    EXPECT_EQ(form, (Params{{"name", "a b"}}));

    Params bad;
    EXPECT_EQ(ParseQuery("a=1&b=%zz", bad), QueryError::malformed);
    const QueryLimits limits{2, 4, 3};
    Params many;
    EXPECT_EQ(ParseQuery("a=1&b=2&c=3", many, limits), QueryError::tooMany);
    Params longName;
    EXPECT_EQ(ParseQuery("named=1", longName, limits), QueryError::tooLong);
    Params longValue;
    EXPECT_EQ(ParseQuery("a=%41%41%41%41", longValue, limits), QueryError::tooLong);
    Params fits;
    EXPECT_EQ(ParseQuery("name=%41%41%41", fits, limits), QueryError::none);
}
