#include "data/XMLObj.h"

#include <gtest/gtest.h>
#include <string>

namespace quillet {
namespace {

std::unique_ptr<TNodeDict> Reply(const std::string& body) {
    return ParseReply("<reply>" + body + "</reply>");
}

std::string Nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += i ? "<d type=\"dict\">" : "<reply>";
    for (int i = levels - 1; i >= 0; --i)
        text += i ? "</d>" : "</reply>";
    return text;
}

TEST(ReplyReader, ReadsTheExampleReply) {
    const auto root =
        ParseReply("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                   "<reply><ID type=\"str\">42</ID><accounts type=\"list\">"
                   "<account type=\"dict\"><account_name type=\"str\">a</account_name>"
                   "</account></accounts></reply>");
    EXPECT_EQ(root->Name, "reply");
    EXPECT_EQ(root->Parent, nullptr);
    ASSERT_EQ(root->Count(), 2);
    EXPECT_EQ(root->Entries()[0].Key, "ID");
    EXPECT_EQ(root->GetByKey("ID")->Kind, nkStr);
    EXPECT_EQ(std::get<std::u16string>(root->GetByKey("ID")->Value), u"42");

    TNode* accounts = root->GetItem("accounts");
    ASSERT_EQ(accounts->Kind, nkList);
    EXPECT_EQ(accounts->Name, ""); // a list reached by its key keeps no name
    EXPECT_EQ(accounts->Parent, root.get());
    ASSERT_EQ(accounts->Count(), 1);
    TNode* type = accounts->GetItem(0);
    EXPECT_EQ(type->Kind, nkOther);
    EXPECT_EQ(type->Name, "type");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(type->Value));

    TNode* account = (*accounts)[1];
    EXPECT_EQ(account->Kind, nkDict);
    EXPECT_EQ(account->Name, "account");
    EXPECT_EQ(account->Parent, accounts);
    ASSERT_EQ(account->Count(), 2);
    EXPECT_EQ(account->GetByKey("type")->Kind, nkOther);
    EXPECT_EQ(account->GetByKey("account_name")->AsText(), "a");
    EXPECT_THROW(accounts->GetItem(2), ENodeError);
}

TEST(ReplyReader, ReadsScalarValues) {
    struct Case {
        std::string element;
        TNodeKind kind;
        TNodeValue value;
    };
    const Case cases[] = {
        {"<v type=\"int\">-5</v>", nkInt, std::int64_t{-5}},
        {"<v type=\"int\">  7 \n</v>", nkInt, std::int64_t{7}},
        {"<v type=\"int\">9000000000</v>", nkInt, std::int64_t{9'000'000'000}},
        {"<v type=\"INT\">1</v>", nkOther, {}},            // the value is matched exactly
        {"<v TYPE=\"int\">3</v>", nkInt, std::int64_t{3}}, // the name is not
        {"<v>text</v>", nkOther, {}},
        {"<v type=\"float\">1.5</v>", nkOther, {}},
        {"<v type=\"bool\">true</v>", nkBool, true},
        {"<v type=\"bool\">FALSE</v>", nkBool, false},
        {"<v type=\"bool\">0</v>", nkBool, false},
        {"<v type=\"bool\">-2</v>", nkBool, true},
        {"<v type=\"bool\">0.0</v>", nkBool, false},
        {"<v type=\"str\">  新浪微博 \t</v>", nkStr, u"新浪微博"},
        {"<v type=\"str\"></v>", nkStr, u""},
        {"<v type=\"str\"/>", nkStr, u""},
        {"<v type=\"str\">a &amp; &lt;b&gt; &#x1F600;</v>", nkStr, u"a & <b> 😀"},
        {"<v type=\"str\">line1\r\nline2\rline3</v>", nkStr, u"line1\nline2\nline3"},
        {"<v type=\"str\"><![CDATA[<raw>]]></v>", nkStr, u"<raw>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.element);
        const auto root = Reply(c.element);
        const TNode* v = root->GetByKey("v");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->Kind, c.kind);
        EXPECT_EQ(v->Value, c.value);
        EXPECT_EQ(v->Name, "v");
        EXPECT_FALSE(v->HasChildren());
    }
}

TEST(ReplyReader, DecodesTextLikeTheSharedConversion) {
    // Malformed bytes are skipped; characters outside the BMP become surrogate pairs.
    for (const std::string text : {
             "plain ascii, longer than one word of eight bytes",
             "新浪微博 \xF0\x9F\x98\x80 Ω é",
             "bad \xFF\xFE lead, \xC0\xAF overlong, \xED\xA0\x80 surrogate, \xF4\x90\x80\x80 big",
             "cut \xE6\x96 short, \xE6 alone",
             "ends cut \xF0\x9F\x98",
         }) {
        SCOPED_TRACE(text);
        const auto root = Reply("<v type=\"str\">" + text + "</v>");
        EXPECT_EQ(std::get<std::u16string>(root->GetByKey("v")->Value), Utf8ToWide(text));
    }
}

TEST(ReplyReader, UnreadableScalarFailsTheWholeReply) {
    for (const char* element : {
             "<v type=\"int\"></v>",
             "<v type=\"int\">abc</v>",
             "<v type=\"int\">12 34</v>",
             "<v type=\"int\">99999999999999999999</v>",
             "<v type=\"bool\">yes</v>",
             "<v type=\"bool\"></v>",
         }) {
        EXPECT_THROW(Reply(std::string("<ok type=\"str\">x</ok>") + element), EConvertError)
            << element;
    }
}

TEST(ReplyReader, ListsHoldTheirTypeAttributeAtZero) {
    const auto root =
        Reply("<empty type=\"list\"/><two type=\"list\"><s type=\"str\">a</s><s type=\"str\">b</s>"
              "<inner type=\"list\"/></two>");
    TNode* empty = root->GetByKey("empty");
    EXPECT_EQ(empty->Count(), 0);
    EXPECT_TRUE(empty->HasChildren());

    TNode* two = root->GetByKey("two");
    ASSERT_EQ(two->Count(), 3);
    EXPECT_EQ(two->GetItem(1)->AsText(), "a");
    EXPECT_EQ(two->GetItem(2)->AsText(), "b");
    EXPECT_EQ(two->GetItem(3)->Name, "inner"); // a list inside a list is named
    EXPECT_THROW(two->GetItem(4), ENodeError);
}

TEST(ReplyReader, TypeEntryOfADictionaryAndDuplicateNames) {
    const auto root = ParseReply("<reply type=\"dict\" version=\"2\"><a type=\"str\">1</a>"
                                 "<type type=\"str\">own</type><A type=\"int\">2</A></reply>");
    ASSERT_EQ(root->Count(), 3);
    EXPECT_EQ(root->Entries()[0].Key, "type");
    EXPECT_EQ(root->GetByKey("type")->AsText(), "own");
    EXPECT_EQ(root->Entries()[1].Key, "version");
    EXPECT_EQ(root->GetByKey("version")->Kind, nkOther);
    EXPECT_EQ(root->Entries()[2].Key, "a");
    EXPECT_EQ(root->GetByKey("a")->AsInteger(), 2);
}

TEST(ReplyReader, BlankTextAndCommentsBetweenElementsAreNoEntries) {
    const std::string pretty = "<?xml version=\"1.0\"?>\n<!-- page 1 -->\n<reply>\n"
                               "  <result type=\"list\">\n"
                               "    <!-- first -->\n"
                               "    <status type=\"dict\">\n"
                               "      <id type=\"int\"> 1 </id>\n"
                               "    </status>\r\n"
                               "    <status type=\"dict\">\t<id type=\"int\">2</id></status>\n"
                               "  </result>\n"
                               "</reply>\n";
    const auto root = ParseReply(pretty);
    EXPECT_EQ(root->Count(), 1);
    TNode* result = root->GetByKey("result");
    ASSERT_EQ(result->Count(), 2);
    EXPECT_EQ(result->GetItem(1)->Count(), 2); // "type" and "id"
    EXPECT_EQ(result->GetItem(2)->GetByKey("id")->AsInteger(), 2);

    // Text that is not blank is still an entry of its own.
    const auto mixed = Reply("<l type=\"list\">note<s type=\"str\">a</s></l>");
    TNode* l = mixed->GetByKey("l");
    ASSERT_EQ(l->Count(), 2);
    EXPECT_EQ(l->GetItem(1)->Name, "#text");
    EXPECT_EQ(l->GetItem(1)->Kind, nkOther);
    EXPECT_EQ(l->GetItem(2)->AsText(), "a");
}

TEST(ReplyReader, DocumentsParsedWithOtherOptionsReadTheSame) {
    pugi::xml_document document;
    ASSERT_TRUE(
        document.load_string("<r> <!-- c --> <l type=\"list\"> <s type=\"str\">x</s> </l> </r>",
                             pugi::parse_full | pugi::parse_ws_pcdata));
    const auto root = ReadDocument(document);
    document.reset(); // the tree keeps no reference into the caller's document
    ASSERT_EQ(root->Count(), 1);
    EXPECT_EQ(root->GetByKey("l")->Count(), 1);
    EXPECT_EQ(ParseReply(root->XmlText())->GetByKey("l")->Count(), 1);
}

TEST(ReplyReader, XmlTextIsTheElementAsWritten) {
    auto root = ParseReply("<?xml version=\"1.0\"?>\n<reply><a type=\"str\">x &amp; y</a>"
                           "<l type=\"list\"><e type=\"str\"/></l></reply>\n<!-- tail -->");
    EXPECT_EQ(root->XmlText(), "<reply><a type=\"str\">x &amp; y</a><l type=\"list\"><e "
                               "type=\"str\"/></l></reply>");
    EXPECT_EQ(root->GetByKey("a")->XmlText(), "<a type=\"str\">x &amp; y</a>");
    EXPECT_EQ(root->GetByKey("l")->GetItem(0)->XmlText(), "type=\"list\"");
    EXPECT_EQ(root->GetByKey("l")->GetItem(1)->XmlText(), "<e type=\"str\"/>");

    // A copy keeps its written form after the tree it came from is gone.
    TNodeDict copy;
    copy.Assign(*root);
    const std::string written = root->XmlText();
    EXPECT_EQ(ParseReply(written)->GetByKey("a")->AsText(), "x & y");
    root.reset();
    EXPECT_EQ(copy.XmlText(), written);
    EXPECT_EQ(copy.GetByKey("a")->XmlText(), "<a type=\"str\">x &amp; y</a>");
}

TEST(ReplyReader, TreeReadStaysSoundWhenEdited) {
    auto root = ParseReply("<reply><inner type=\"dict\"><l type=\"list\"><s type=\"str\">a</s>"
                           "<s type=\"str\">b</s></l><n type=\"int\">1</n></inner>"
                           "<other type=\"str\">x</other></reply>");
    root->GetByKey("inner")->GetByKey("l")->Delete(1);
    root->Put("OTHER", std::make_unique<TNode>());
    root->SetXmlText("<set/>");
    EXPECT_EQ(root->GetByKey("inner")->GetByKey("n")->XmlText(), "<n type=\"int\">1</n>");

    // The root takes a copy of a node inside it; the nodes it held are released.
    root->Assign(*root->GetByKey("inner"));
    EXPECT_EQ(root->Name, "inner");
    EXPECT_FALSE(root->ContainsKey("other"));
    EXPECT_EQ(root->GetByKey("l")->Count(), 1);
    EXPECT_EQ(root->GetByKey("l")->GetItem(1)->AsText(), "b");
    EXPECT_EQ(root->GetByKey("l")->Parent, root.get());
    EXPECT_EQ(root->GetByKey("n")->XmlText(), "<n type=\"int\">1</n>");
    // XmlText stays the element as it was read.
    EXPECT_EQ(root->XmlText(), "<inner type=\"dict\"><l type=\"list\"><s type=\"str\">a</s><s "
                               "type=\"str\">b</s></l><n type=\"int\">1</n></inner>");

    // A list taking a dictionary keeps the fields, is cleared and refuses the children.
    auto other = ParseReply("<r><l type=\"list\"><s type=\"str\">a</s></l></r>");
    TNode* list = other->GetByKey("l");
    EXPECT_THROW(list->Assign(*root), EInvalidCast);
    EXPECT_EQ(list->Name, "inner");
    EXPECT_EQ(list->Count(), -1);
    root.reset();
    EXPECT_EQ(list->XmlText().substr(0, 7), "<inner ");
}

TEST(ReplyReader, CutShortReplyGivesThePartialTree) {
    const std::string full = "<reply><id type=\"int\">5</id><result type=\"list\">"
                             "<s type=\"dict\"><text type=\"str\">one</text></s>"
                             "<s type=\"dict\"><text type=\"str\">two</text></s></result></reply>";
    struct Case {
        std::size_t length;
        int count;
        std::string lastText;
    };
    const Case cases[] = {
        {full.rfind("<s "), 1, "one"},   // cut between two elements
        {full.find("two") + 2, 2, "tw"}, // cut inside a text
        {full.size() - 1, 2, "two"},     // only the last ">" is missing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(full.substr(0, c.length));
        const auto root = ParseReply(full.substr(0, c.length));
        EXPECT_EQ(root->GetByKey("id")->AsInteger(), 5);
        TNode* result = root->GetByKey("result");
        ASSERT_NE(result, nullptr);
        ASSERT_EQ(result->Count(), c.count);
        EXPECT_EQ(result->GetItem(c.count)->GetByKey("text")->AsText(), c.lastText);
    }
}

TEST(ReplyReader, TextWithoutAnElementFails) {
    for (const char* text : {"", "   ", "not xml at all", "<?xml version=\"1.0\"?>",
                             "<!-- only a comment -->", "<", "</a>"})
        EXPECT_THROW(ParseReply(text), EReplyError) << text;
    pugi::xml_document empty;
    EXPECT_THROW(ReadDocument(empty), EReplyError);
}

TEST(ReplyReader, NestingIsBoundedWithoutExhaustingTheStack) {
    const auto deepest = ParseReply(Nested(kMaxReplyDepth));
    const TNode* node = deepest.get();
    for (int level = 1; level < kMaxReplyDepth; ++level)
        node = node->GetByKey("d");
    EXPECT_EQ(node->Count(), 1); // just its "type"

    EXPECT_THROW(ParseReply(Nested(kMaxReplyDepth + 1)), EReplyError);
    EXPECT_THROW(ParseReply(Nested(100'000)), EReplyError);

    // Deep content under a scalar is never walked, so it is no danger.
    std::string scalar = "<reply><v type=\"str\">";
    for (int i = 0; i < 100'000; ++i)
        scalar += "<x>";
    const auto root = ParseReply(scalar + "</v></reply>");
    EXPECT_EQ(root->GetByKey("v")->AsText(), "");
}

TEST(ReplyReader, SizeIsBounded) {
    std::string text = "<reply><v type=\"str\">";
    text.resize(kMaxReplySize + 1, 'x');
    EXPECT_THROW(ParseReply(text), EReplyError);
}

TEST(ReplyReader, StepsReadElementsOfACallersDocument) {
    pugi::xml_document document;
    ASSERT_TRUE(
        document.load_string("<r><n type=\"int\">4</n><l type=\"list\"><x type=\"bool\">1</x>"
                             "</l><d type=\"dict\"/></r>"));
    const pugi::xml_node r = document.child("r");
    EXPECT_EQ(KindOfElement(r), nkOther);
    EXPECT_EQ(KindOfElement(r.child("l")), nkList);
    EXPECT_EQ(KindOfElement(r.child("d")), nkDict);

    TNodeDict parent;
    const auto scalar = ReadScalar(r.child("n"), &parent);
    EXPECT_EQ(scalar->Parent, &parent);
    EXPECT_EQ(scalar->AsInteger(), 4);
    const auto list = ReadList(r.child("l"), nullptr);
    EXPECT_EQ(list->GetItem(1)->Value, TNodeValue(true));
    const auto dict = ReadDict(r.child("d"), nullptr);
    EXPECT_EQ(dict->Name, "d");
    document.reset();
    EXPECT_EQ(list->XmlText(), "<l type=\"list\"><x type=\"bool\">1</x></l>");
}

} // namespace
} // namespace quillet
