// The quick way of reading replies against the full XML reader: where it answers, the same
// tree; where the text is anything but plain, no answer, and ParseReply still reads it in full.
#include "data/XMLObj.h"
#include "tests/data/TreeDifference.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <string>
#include <typeinfo>

namespace quillet {
namespace {

using test::TreeDifference;

struct TCase {
    const char* Name;
    std::string Text;
};

// The full reader's answer: a tree, or the name of the error it raises.
struct TFull {
    std::unique_ptr<TNodeDict> Tree;
    std::string Error;
};

TFull ReadFully(const std::string& text) {
    pugi::xml_document document;
    document.load_buffer(text.data(), text.size());
    try {
        return {ReadDocument(document), ""};
    } catch (const Exception& error) {
        return {nullptr, typeid(error).name()};
    }
}

std::string Wrap(const std::string& body) {
    return "<reply>" + body + "</reply>";
}

std::string ManyEntries(int count) {
    std::string body;
    for (int i = 0; i < count; ++i)
        body += "<k" + std::to_string(i) + " type=\"int\">" + std::to_string(i) + "</k" +
                std::to_string(i) + ">";
    return Wrap("<d type=\"dict\">" + body + "</d>");
}

std::string Nested(int levels) {
    std::string text = "<reply>";
    for (int i = 1; i < levels; ++i)
        text += "<d type=\"dict\">";
    for (int i = 1; i < levels; ++i)
        text += "</d>";
    return text + "</reply>";
}

const std::string Status = "<status type=\"dict\"><id type=\"str\">3512</id>"
                           "<text type=\"dict\"><text type=\"str\">早上好 @小明 [哈哈]</text>"
                           "<blocks type=\"list\"><block type=\"dict\"><texttype type=\"str\">"
                           "mention</texttype><text type=\"str\">@小明</text><extra "
                           "type=\"str\">小明</extra></block></blocks></text>"
                           "<verified type=\"bool\">true</verified><good_count type=\"int\">7"
                           "</good_count><website type=\"str\"/><note type=\"str\"></note>"
                           "</status>";

const TCase QuickCases[] = {
    {"relay page", Wrap("<result type=\"list\">" + Status + Status + "</result>")},
    {"declaration, mark and blank lines",
     "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<reply>\r\n  <l type=\"list\">\r\n"
     "    <s type=\"str\"> a </s>\n\t</l>\r\n</reply>\r\n"},
    {"references and line breaks",
     Wrap("<s type=\"str\">&lt;b&gt; &amp; &apos;&quot; &#65;&#x4e2d;&#x1F600; a\r\nb\rc</s>")},
    {"attributes", Wrap("<d type = 'dict' id=\"7\"><s TYPE=\"int\" x='1'>5</s></d>"
                        "<l type=\"list\" n=\"2\"/><o type=\"Dict\">x</o><t type=\"str\" "
                        "type=\"int\">y</t>")},
    {"keys again in another case",
     Wrap("<a type=\"str\">1</a><b type=\"int\">2</b><A type=\"str\">3</A>")},
    {"values", Wrap("<i type=\"int\"> +12 </i><j type=\"int\">-3</j><b type=\"bool\">True</b>"
                    "<c type=\"bool\">0.0</c><e type=\"bool\"> 2 </e><u>loose</u>")},
    {"names", Wrap("<ns:a-b.c type=\"str\">1</ns:a-b.c><中文 type=\"str\">2</中文><_x/>")},
    {"end tags with blanks and what follows the reply",
     "<reply><a type=\"str\">1</a ></reply >trailing <junk"},
    {"dictionary with an index", ManyEntries(20)},
    {"deepest reply", Nested(kMaxReplyDepth)},
};

TEST(QuickReader, GivesTheTreeOfTheFullReader) {
    for (const TCase& c : QuickCases) {
        SCOPED_TRACE(c.Name);
        const auto quick = ScanReply(c.Text);
        ASSERT_NE(quick, nullptr);
        const TFull full = ReadFully(c.Text);
        ASSERT_NE(full.Tree, nullptr) << full.Error;
        EXPECT_EQ(TreeDifference(*quick, *full.Tree), "");
    }
}

TEST(QuickReader, ReadsPlainRepliesAsTheRelayWritesThem) {
    const auto root = ScanReply(QuickCases[0].Text);
    ASSERT_NE(root, nullptr);
    const TNode* status = root->GetByKey("result")->GetItem(1);
    EXPECT_EQ(status->Name, "status");
    EXPECT_EQ(TextAt(status->GetByKey("text"), "text"), "早上好 @小明 [哈哈]");
    EXPECT_EQ(IntegerAt(status, "good_count"), 7);
    EXPECT_EQ(status->GetByKey("verified")->Value, TNodeValue(true));
    EXPECT_EQ(status->GetByKey("website")->Value, TNodeValue(std::u16string()));
    EXPECT_EQ(status->GetByKey("text")->GetByKey("blocks")->GetItem(1)->GetByKey("extra")->AsText(),
              "小明");
    EXPECT_EQ(TextAt(ScanReply(QuickCases[2].Text).get(), "s"),
              "<b> & '\" A中\xF0\x9F\x98\x80 a\nb\nc");
    const auto again = ScanReply(QuickCases[4].Text);
    ASSERT_EQ(again->Count(), 2);
    EXPECT_EQ(again->Entries()[0].Key, "a");
    EXPECT_EQ(again->GetByKey("A")->AsText(), "3");
    EXPECT_EQ(ScanReply(ManyEntries(20))->GetByKey("d")->GetByKey("K19")->AsInteger(), 19);
}

// Each of these needs the full reader: the quick way gives no answer, and ParseReply gives
// what the full reader gives, tree or error.
const TCase FullCases[] = {
    {"comment", Wrap("<!-- c --><a type=\"str\">1</a>")},
    {"comment before the reply", "<!-- c --><reply/>"},
    {"CDATA", Wrap("<a type=\"str\"><![CDATA[<x>]]></a>")},
    {"processing instruction", Wrap("<?pi x?><a type=\"str\">1</a>")},
    {"document type", "<!DOCTYPE reply><reply/>"},
    {"text in a dictionary", Wrap("note<a type=\"str\">1</a>")},
    {"element in a value", Wrap("<a type=\"str\">x<b/>y</a>")},
    {"cut short", Wrap("<l type=\"list\"><s type=\"str\">one</s><s type=\"str\">tw")},
    {"end tag of another element", "<reply><a type=\"str\">1</b></reply>"},
    {"no blank between attributes", Wrap("<a type=\"str\"x=\"1\">1</a>")},
    {"tab in an attribute", Wrap("<a type=\"str\tx\">1</a>")},
    {"unknown entity", Wrap("<a type=\"str\">&nbsp;</a>")},
    {"reference to nothing", Wrap("<a type=\"str\">&#0;x</a>")},
    {"reference to a surrogate", Wrap("<a type=\"str\">&#xD800;</a>")},
    {"other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><reply><a type=\"str\">"
                       "\xE9</a></reply>"},
    {"NUL in a value", std::string("<reply><a type=\"str\">x\0y</a></reply>", 36)},
    {"integer that is none", Wrap("<a type=\"int\">12a</a>")},
    {"boolean that is none", Wrap("<a type=\"bool\">yes</a>")},
    {"large dictionary", ManyEntries(40)},
    {"too deep", Nested(kMaxReplyDepth + 1)},
    {"no element", "just text"},
    {"empty", ""},
};

TEST(QuickReader, LeavesAnythingElseToTheFullReader) {
    for (const TCase& c : FullCases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ScanReply(c.Text), nullptr);
        const TFull full = ReadFully(c.Text);
        try {
            const auto tree = ParseReply(c.Text);
            ASSERT_NE(full.Tree, nullptr) << full.Error;
            EXPECT_EQ(TreeDifference(*tree, *full.Tree), "");
        } catch (const Exception& error) {
            EXPECT_EQ(typeid(error).name(), full.Error);
        }
    }
}

TEST(QuickReader, WrittenFormOutlivesTheTreeInCopies) {
    auto root = ScanReply(Wrap("<l type=\"list\"><s type='str'>a &amp; b</s></l>"));
    ASSERT_NE(root, nullptr);
    const TNode* list = root->GetByKey("l");
    EXPECT_EQ(list->GetItem(0)->XmlText(), "type=\"list\"");
    EXPECT_EQ(list->GetItem(1)->XmlText(), "<s type=\"str\">a &amp; b</s>");
    TNodeList copy;
    copy.Assign(*list);
    root.reset();
    EXPECT_EQ(copy.XmlText(), "<l type=\"list\"><s type=\"str\">a &amp; b</s></l>");
    EXPECT_EQ(copy.GetItem(1)->AsText(), "a & b");
}

} // namespace
} // namespace quillet
