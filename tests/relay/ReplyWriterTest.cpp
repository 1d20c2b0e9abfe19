#include "relay/xml/ReplyWriter.h"

#include <gtest/gtest.h>
#include <stdexcept>

using quillet::relay::ReplyWriter;

TEST(ReplyWriter, WritesTypedElementsWithoutWhitespace) {
    ReplyWriter w;
    w.Str("ID", "42");
    w.BeginList("accounts");
    w.BeginDict("account");
    w.Str("account_name", "a");
    w.Int("expire_in", -5);
    w.Bool("verified", true);
    w.EndDict();
    w.EndList();
    EXPECT_EQ(w.Finish(), "<reply><ID type=\"str\">42</ID><accounts type=\"list\">"
                          "<account type=\"dict\"><account_name type=\"str\">a</account_name>"
                          "<expire_in type=\"int\">-5</expire_in>"
                          "<verified type=\"bool\">True</verified></account></accounts></reply>");
}

TEST(ReplyWriter, FinishClosesOpenElements) {
    ReplyWriter w("r");
    w.BeginDict("d");
    w.BeginList("l");
    EXPECT_EQ(w.Finish(), "<r><d type=\"dict\"><l type=\"list\"></l></d></r>");
    EXPECT_THROW(w.Str("x", "y"), std::logic_error);
}

TEST(ReplyWriter, ErrorReplyCarriesCodeOnlyWhenGiven) {
    ReplyWriter a;
    a.Error("expired", 2);
    EXPECT_EQ(a.Finish(), "<reply><_error type=\"str\">expired</_error>"
                          "<_error_code type=\"int\">2</_error_code></reply>");
    ReplyWriter b;
    b.Error("refused");
    EXPECT_EQ(b.Finish(), "<reply><_error type=\"str\">refused</_error></reply>");
}

TEST(ReplyWriter, TextIsEscapedAndCleaned) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"a<b>&c", "a&lt;b&gt;&amp;c"},
        {"line\r\nnext", "line&#13;\nnext"},
        {std::string("bell\x07nul\0x", 10), "bellnulx"},
        {"\xE4\xBD\xA0\xF0\x9F\x98\x80", "\xE4\xBD\xA0\xF0\x9F\x98\x80"}, // CJK and an emoji pass
        {"bad\xFF\xC0\x80", "bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"cut\xE4\xBD", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        ReplyWriter w("r");
        w.Str("t", c.in);
        EXPECT_EQ(w.Finish(), "<r><t type=\"str\">" + c.out + "</t></r>") << c.in;
    }
}

TEST(ReplyWriter, MismatchedEndIsRefused) {
    ReplyWriter w;
    w.BeginDict("d");
    EXPECT_THROW(w.EndList(), std::logic_error);
    ReplyWriter v;
    EXPECT_THROW(v.EndDict(), std::logic_error);
}

TEST(ReplyWriter, UnsafeNamesAreReplaced) {
    ReplyWriter w("r");
    w.Str("a b<", "x");
    w.Str("", "y");
    w.Str("1x", "z");
    EXPECT_EQ(w.Finish(), "<r><a_b_ type=\"str\">x</a_b_><item type=\"str\">y</item>"
                          "<_x type=\"str\">z</_x></r>");
}
