#include "data/XMLObj.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace quillet {
namespace {

// A scalar that reports its own release.
class Probe : public TNode {
public:
    Probe(int& released) : m_released(released) {}
    ~Probe() override { ++m_released; }

private:
    int& m_released;
};

std::unique_ptr<TNode> Text(std::u16string text) {
    auto node = std::make_unique<TNode>();
    node->Value = std::move(text);
    return node;
}

template <class E>
void ExpectMessage(const std::function<void()>& call, const std::string& message) {
    try {
        call();
        FAIL() << "no exception, expected " << message;
    } catch (const E& e) {
        EXPECT_EQ(e.what(), message);
    }
}

TEST(NodeTree, NewNodesHaveTheirKindAndNoChildren) {
    TNode scalar;
    TNodeDict dict;
    TNodeList list;
    EXPECT_EQ(scalar.Kind, nkStr);
    EXPECT_EQ(dict.Kind, nkDict);
    EXPECT_EQ(list.Kind, nkList);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(scalar.Value));
    EXPECT_EQ(dict.Count(), 0);
    EXPECT_EQ(list.Count(), -1);
    EXPECT_FALSE(dict.HasChildren());
    EXPECT_FALSE(list.HasChildren());
    EXPECT_EQ(list.Add(Text(u"a")), 0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.HasChildren());
}

TEST(NodeTree, ScalarHasNoChildrenWhateverItsKind) {
    for (TNodeKind kind : {nkStr, nkInt, nkOther, nkBool, nkList, nkDict}) {
        TNode scalar;
        scalar.Kind = kind;
        EXPECT_FALSE(scalar.HasChildren()) << int(kind);
    }
}

TEST(NodeTree, KeysIgnoreLetterCaseAndKeepFirstSpellingAndPlace) {
    int released = 0;
    TNodeDict dict;
    dict.Put("ID", std::make_unique<Probe>(released));
    dict.PutValue("name", "name", nkStr, u"x");
    ASSERT_NE(dict.GetByKey("id"), nullptr);
    EXPECT_TRUE(dict.ContainsKey("Id"));

    dict.Put("id", Text(u"42"));
    EXPECT_EQ(released, 1);
    ASSERT_EQ(dict.Count(), 2);
    EXPECT_EQ(dict.Entries()[0].Key, "ID");
    EXPECT_EQ(dict.GetByKey("ID")->AsText(), "42");
    EXPECT_EQ(dict.GetByKey("ID")->Parent, &dict);
    EXPECT_EQ(dict.GetItem("NAME")->AsText(), "x");
}

TEST(NodeTree, LargeDictionaryLooksUpRemovesAndReplaces) {
    TNodeDict dict;
    for (int i = 0; i < 1000; ++i)
        dict.PutValue("Key" + std::to_string(i), "", nkInt, std::int64_t{i});
    dict.Remove("key500");
    dict.Put("KEY999", Text(u"last"));
    dict.Put("key1000", Text(u"new"));
    ASSERT_EQ(dict.Count(), 1000);
    EXPECT_EQ(dict.GetByKey("kEy501")->AsInteger(), 501);
    EXPECT_EQ(dict.GetByKey("key500"), nullptr);
    EXPECT_EQ(dict.Entries()[998].Key, "Key999");
    EXPECT_EQ(dict.Entries()[998].Node->AsText(), "last");
    EXPECT_EQ(dict.Entries()[999].Key, "key1000");
}

TEST(NodeTree, NonAsciiKeysAreExactAndSafe) {
    TNodeDict dict;
    dict.PutValue("名字", "", nkStr, u"a");
    dict.PutValue("ÄBC", "", nkStr, u"b");
    EXPECT_EQ(dict.GetByKey("名字")->AsText(), "a");
    EXPECT_NE(dict.GetByKey("Äbc"), nullptr);
    EXPECT_EQ(dict.GetByKey("\xff\xfe"), nullptr);
}

TEST(NodeTree, AbsentKeyIsNilButRemovingItFails) {
    TNodeDict dict;
    dict.PutValue("a", "", nkStr, u"1");
    EXPECT_EQ(dict.GetByKey("b"), nullptr);
    EXPECT_EQ(dict.GetItem("b"), nullptr);
    ExpectMessage<ENodeError>([&] { dict.Remove("b"); }, "Key illegal!");
    EXPECT_EQ(dict.Count(), 1);

    dict.Put("empty", nullptr);
    EXPECT_TRUE(dict.ContainsKey("empty"));
    ExpectMessage<ENodeError>([&] { dict.GetByKey("empty"); }, "Key illegal!");

    dict.Remove("A");
    EXPECT_FALSE(dict.ContainsKey("a"));
}

TEST(NodeTree, IndexOutsideTheListFailsAndChangesNothing) {
    TNodeList list;
    list.AddValue("type", nkOther, {});
    list.AddValue("item", nkStr, u"one");
    list.Add(nullptr);
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"GetByIndex -1", [&] { list.GetByIndex(-1); }},
        {"GetByIndex 3", [&] { list.GetByIndex(3); }},
        {"GetByIndex empty entry", [&] { list.GetByIndex(2); }},
        {"GetItem 3", [&] { list.GetItem(3); }},
        {"Delete 3", [&] { list.Delete(3); }},
        {"Delete -1", [&] { list.Delete(-1); }},
    };
    for (const auto& [what, call] : calls) {
        SCOPED_TRACE(what);
        ExpectMessage<ENodeError>(call, "Index illegal!");
        EXPECT_EQ(list.Count(), 2);
    }
    EXPECT_EQ(list.GetItem(1)->AsText(), "one");
    EXPECT_EQ(list.GetItem("1")->AsText(), "one");
    EXPECT_THROW(list.GetItem("one"), EConvertError);
}

TEST(NodeTree, DeleteReleasesTheEntryAndShiftsTheRest) {
    int released = 0;
    TNodeList list;
    list.Add(std::make_unique<Probe>(released));
    list.AddValue("b", nkStr, u"b");
    list.Delete(0);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(list.GetByIndex(0)->Name, "b");
}

TEST(NodeTree, OperationsAClassLacksAreAbstract) {
    TNode scalar;
    TNodeDict dict;
    TNodeList list;
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"scalar GetByKey", [&] { scalar.GetByKey("a"); }},
        {"scalar GetByIndex", [&] { scalar.GetByIndex(0); }},
        {"scalar GetItem", [&] { scalar.GetItem("a"); }},
        {"scalar Count", [&] { scalar.Count(); }},
        {"scalar Put", [&] { scalar.Put("a", nullptr); }},
        {"scalar Add", [&] { scalar.Add(nullptr); }},
        {"dict GetByIndex", [&] { dict.GetByIndex(0); }},
        {"dict Add", [&] { dict.Add(nullptr); }},
        {"dict AddValue", [&] { dict.AddValue("a", nkStr, {}); }},
        {"dict Delete", [&] { dict.Delete(0); }},
        {"list GetByKey", [&] { list.GetByKey("a"); }},
        {"list SetItem", [&] { list.SetItem(0, nullptr); }},
        {"list ContainsKey", [&] { list.ContainsKey("a"); }},
        {"list PutValue", [&] { list.PutValue("a", "a", nkStr, {}); }},
        {"list Remove", [&] { list.Remove("a"); }},
    };
    for (const auto& [what, call] : calls)
        EXPECT_THROW(call(), EAbstractError) << what;
    scalar.Clear();
    scalar.AssignChildren(dict); // a scalar has no children to copy
    EXPECT_FALSE(scalar.HasChildren());
}

TEST(NodeTree, ValueConversions) {
    struct Case {
        TNodeValue value;
        std::string text;
        std::int64_t integer;
    };
    const Case cases[] = {
        {{}, "", 0},
        {std::int64_t{-12}, "-12", -12},
        {std::int64_t{5'000'000'000}, "5000000000", 5'000'000'000},
        {true, "True", 1},
        {false, "False", 0},
        {u"-7", "-7", -7},
        {u"+8", "+8", 8},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ValueAsText(c.value), c.text);
        EXPECT_EQ(ValueAsInteger(c.value), c.integer) << c.text;
    }
    // Text is UTF-8, characters outside the BMP included; GBK could hold neither.
    EXPECT_EQ(ValueAsText(u"微博 😀 Ω"), "微博 😀 Ω");
    EXPECT_EQ(ValueAsText(u"a\r\nb"), "a\nb");
    for (const char16_t* text : {u"", u"abc", u"12a", u" 1", u"1.5", u"99999999999999999999"})
        EXPECT_THROW(ValueAsInteger(std::u16string(text)), EConvertError);
}

TEST(NodeTree, AssignMakesAnIndependentDeepCopy) {
    auto source = std::make_unique<TNodeDict>();
    source->Name = "reply";
    source->SetXmlText("<reply/>");
    source->PutValue("id", "id", nkInt, std::int64_t{7});
    auto list = std::make_unique<TNodeList>();
    list->AddValue("type", nkOther, {});
    list->AddValue("s", nkStr, u"one");
    list->AddValue("s", nkStr, u"two");
    source->Put("items", std::move(list));

    TNodeDict copy;
    copy.PutValue("stale", "", nkStr, u"gone");
    copy.Assign(*source);
    EXPECT_FALSE(copy.ContainsKey("stale"));
    EXPECT_EQ(copy.Name, "reply");
    EXPECT_EQ(copy.XmlText(), "<reply/>");
    TNode* items = copy.GetByKey("items");
    ASSERT_NE(items, source->GetByKey("items"));
    EXPECT_EQ(items->Parent, &copy);
    EXPECT_EQ(items->GetItem(1)->Parent, items);

    items->Delete(1);
    EXPECT_EQ(source->GetByKey("items")->Count(), 2);
    source.reset();
    EXPECT_EQ(items->Count(), 1);
    EXPECT_EQ(items->GetItem(1)->AsText(), "two");
    EXPECT_EQ(copy.GetByKey("ID")->AsInteger(), 7);
}

TEST(NodeTree, AssigningADictionaryToAListFailsAfterTheFields) {
    TNodeDict dict;
    dict.Name = "d";
    dict.PutValue("a", "", nkStr, u"1");
    TNodeList list;
    list.AddValue("kept", nkStr, u"x");
    EXPECT_THROW(list.Assign(dict), EInvalidCast);
    EXPECT_EQ(list.Name, "d");
    EXPECT_EQ(list.Kind, nkDict);
    EXPECT_THROW(dict.AssignChildren(list), EInvalidCast);
}

TEST(NodeTree, AssignFromInsideItselfKeepsTheSource) {
    auto dict = std::make_unique<TNodeDict>();
    auto inner = std::make_unique<TNodeDict>();
    inner->PutValue("deep", "", nkStr, u"value");
    dict->Put("inner", std::move(inner));
    dict->PutValue("other", "", nkStr, u"x");

    dict->Assign(*dict->GetByKey("inner")); // releases the old children, Source among them
    EXPECT_EQ(dict->Count(), 1);
    EXPECT_EQ(dict->GetByKey("deep")->AsText(), "value");
    EXPECT_EQ(dict->GetByKey("deep")->Parent, dict.get());

    dict->Assign(*dict);
    EXPECT_EQ(dict->Count(), 1);

    TNodeList list;
    list.AddValue("a", nkStr, u"a");
    list.AssignChildren(list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.GetItem(1)->AsText(), "a");
}

TEST(NodeTree, ClearReleasesChildren) {
    int released = 0;
    TNodeDict dict;
    dict.Put("a", std::make_unique<Probe>(released));
    TNodeList list;
    list.Add(std::make_unique<Probe>(released));
    dict.Clear();
    list.Clear();
    EXPECT_EQ(released, 2);
    EXPECT_FALSE(dict.HasChildren());
    EXPECT_EQ(list.Count(), -1);
}

TEST(NodeTree, DeepTreeBuiltInCodeIsReleasedWithoutExhaustingTheStack) {
    auto root = std::make_unique<TNodeList>();
    TNode* tip = root.get();
    for (int i = 0; i < 300'000; ++i) {
        auto next = i % 2 ? std::unique_ptr<TNode>(std::make_unique<TNodeList>())
                          : std::unique_ptr<TNode>(std::make_unique<TNodeDict>());
        TNode* raw = next.get();
        if (auto* list = dynamic_cast<TNodeList*>(tip))
            list->Add(std::move(next));
        else
            tip->Put("child", std::move(next));
        tip = raw;
    }
    root->GetByIndex(0)->Clear();
    root->Add(std::make_unique<TNodeList>());
    tip = root->GetByIndex(1);
    for (int i = 0; i < 300'000; ++i)
        tip = tip->GetByIndex(tip->Add(std::make_unique<TNodeList>()));
    root.reset();
    SUCCEED();
}

} // namespace
} // namespace quillet
