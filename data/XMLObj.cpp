#include "data/XMLObj.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>

namespace quillet {

namespace {

const char* const KeyIllegal = "Key illegal!";
const char* const IndexIllegal = "Index illegal!";
// Dictionaries from this size on keep a hash index of their keys.
constexpr std::size_t IndexThreshold = 16;

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FoldKey(std::string_view key) {
    std::string folded(key);
    for (char& c : folded)
        c = FoldAscii(c);
    return folded;
}

bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

// Characters 0 to 32 (blanks, tabs, line breaks) around a text are not part of it.
std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

// "type" in any letter case.
bool IsTypeName(std::string_view name) {
    return name.size() == 4 && (name[0] | 0x20) == 't' && (name[1] | 0x20) == 'y' &&
           (name[2] | 0x20) == 'p' && (name[3] | 0x20) == 'e';
}

TNodeKind KindOfType(std::string_view type) {
    if (type == "str")
        return nkStr;
    if (type == "int")
        return nkInt;
    if (type == "bool")
        return nkBool;
    if (type == "list")
        return nkList;
    if (type == "dict")
        return nkDict;
    return nkOther;
}

bool IsBlank(std::string_view text) {
    return TrimBlanks(text).empty();
}

// A short, single-line quote of a value for an error message: a hostile reply must not be able
// to fill a message box or break a log line.
std::string Quote(std::string_view text) {
    constexpr std::size_t Limit = 40;
    std::string quoted = "'";
    std::size_t end = std::min(text.size(), Limit);
    while (end < text.size() && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end; // never cut a UTF-8 sequence
    for (char c : text.substr(0, end))
        quoted += static_cast<unsigned char>(c) < 32 ? ' ' : c;
    if (end < text.size())
        quoted += "...";
    return quoted + "'";
}

bool ParseDecimal(std::string_view text, std::int64_t& value) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

std::int64_t IntegerOf(std::string_view text) {
    std::int64_t value = 0;
    if (!ParseDecimal(text, value))
        throw EConvertError(Quote(text) + " is not a valid integer value");
    return value;
}

// A decimal number, with or without a fraction; Zero tells whether every digit is 0.
bool ParseNumber(std::string_view text, bool& zero) {
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    bool digits = false;
    bool point = false;
    zero = true;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            return false;
        digits = true;
        zero = zero && c == '0';
    }
    return digits;
}

bool ParseBoolean(std::string_view text, bool& value) {
    if (SameKey(text, "true") || SameKey(text, "false")) {
        value = SameKey(text, "true");
        return true;
    }
    bool zero = false;
    if (!ParseNumber(text, zero))
        return false;
    value = !zero;
    return true;
}

bool BooleanOf(std::string_view text) {
    bool value = false;
    if (!ParseBoolean(text, value))
        throw EConvertError(Quote(text) + " is not a valid boolean value");
    return value;
}

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : m_out(out) {}
    void write(const void* data, std::size_t size) override {
        m_out.append(static_cast<const char*>(data), size);
    }

private:
    std::string& m_out;
};

std::string EscapeAttribute(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 32)
                out += "&#" + std::to_string(static_cast<int>(c)) + ";";
            else
                out += c;
        }
    }
    return out;
}

// A deep copy of Source under Parent; an empty entry stays empty.
std::unique_ptr<TNode> CopyNode(const TNode* source, TNode* parent) {
    if (!source)
        return nullptr;
    auto copy = source->CreateEmpty(parent);
    copy->Assign(*source);
    return copy;
}

int LevelUnder(const TNode* parent) {
    int level = 1;
    for (const TNode* p = parent; p; p = p->Parent)
        ++level;
    return level;
}

// The element copied into a document of its own, which the nodes read from it keep alive.
std::shared_ptr<const pugi::xml_document> OwnCopy(pugi::xml_node element) {
    if (!element || element.type() != pugi::node_element)
        throw EReplyError("no XML element to read");
    auto document = std::make_shared<pugi::xml_document>();
    document->append_copy(element);
    return document;
}

} // namespace

// Memory for the nodes of one tree read: taken in blocks, given back all at once when the tree
// goes. Reading a reply otherwise spends most of its time allocating and releasing nodes.
class TNodeArena {
public:
    void* Allocate(std::size_t size) {
        size = (size + Alignment - 1) & ~(Alignment - 1);
        if (m_left < size)
            Grow(size);
        void* memory = m_next;
        m_next += size;
        m_left -= size;
        return memory;
    }

private:
    // Enough for every node class; a tighter packing than malloc's keeps more of a tree in cache.
    static constexpr std::size_t Alignment = alignof(void*);
    static constexpr std::size_t FirstBlock = 16 * 1024;
    static constexpr std::size_t LargestBlock = 1024 * 1024;

    void Grow(std::size_t size) {
        m_blockSize = std::min(m_blockSize ? 2 * m_blockSize : FirstBlock, LargestBlock);
        const std::size_t length = std::max(size, m_blockSize);
        m_blocks.emplace_back(new std::byte[length]);
        m_next = m_blocks.back().get();
        m_left = length;
    }

    std::vector<std::unique_ptr<std::byte[]>> m_blocks;
    std::byte* m_next = nullptr;
    std::size_t m_left = 0;
    std::size_t m_blockSize = 0;
};

static_assert(alignof(TNodeDict) <= alignof(void*) && alignof(TNodeList) <= alignof(void*));

// ---- Values ----

std::string ValueAsText(const TNodeValue& value) {
    if (const auto* text = std::get_if<std::u16string>(&value))
        return WideToUtf8(*text);
    if (const auto* integer = std::get_if<std::int64_t>(&value))
        return std::to_string(*integer);
    if (const auto* boolean = std::get_if<bool>(&value))
        return *boolean ? "True" : "False";
    return "";
}

std::int64_t ValueAsInteger(const TNodeValue& value) {
    if (const auto* text = std::get_if<std::u16string>(&value))
        return IntegerOf(WideToUtf8(*text));
    if (const auto* integer = std::get_if<std::int64_t>(&value))
        return *integer;
    if (const auto* boolean = std::get_if<bool>(&value))
        return *boolean ? 1 : 0;
    return 0;
}

std::string TNodeKey::AsText() const {
    if (const auto* index = std::get_if<std::int64_t>(&m_value))
        return std::to_string(*index);
    return std::get<std::string>(m_value);
}

std::int64_t TNodeKey::AsInteger() const {
    if (const auto* index = std::get_if<std::int64_t>(&m_value))
        return *index;
    return IntegerOf(std::get<std::string>(m_value));
}

// ---- TNode ----

TNode::TNode(TNode* parent) : Parent(parent) {}

TNode::~TNode() = default;

TNode::TXmlOwner::~TXmlOwner() = default;

void TNode::operator delete(TNode* node, std::destroying_delete_t) {
    const bool inArena = node->m_inArena;
    node->~TNode();
    if (!inArena)
        ::operator delete(node);
}

namespace {

enum THandleTag : std::uintptr_t { htNode = 0, htAttribute = 1, htSpan = 2, htAttributeSpan = 3 };
constexpr std::uintptr_t HandleTagMask = 3;
// Offsets and lengths in a reply's text take 28 bits each: replies are at most 64 MB.
constexpr int SpanBits = 28;
static_assert(sizeof(std::uintptr_t) >= 8, "text spans are packed into a handle");
static_assert(kMaxReplySize < (std::size_t{1} << SpanBits));

bool IsSpan(std::uintptr_t handle) {
    return (handle & htSpan) != 0;
}

std::uintptr_t SpanHandle(std::size_t offset, std::size_t length, THandleTag tag) {
    return ((std::uintptr_t{offset} << SpanBits | length) << 2) | tag;
}

std::string_view SpanText(const std::string& source, std::uintptr_t handle) {
    const std::uintptr_t span = handle >> 2;
    const std::uintptr_t mask = (std::uintptr_t{1} << SpanBits) - 1;
    return std::string_view(source).substr(span >> SpanBits, span & mask);
}

std::string AttributeText(pugi::xml_attribute attribute) {
    return std::string(attribute.name()) + "=\"" + EscapeAttribute(attribute.value()) + "\"";
}

std::string ElementText(pugi::xml_node node) {
    std::string text;
    StringWriter writer(text);
    node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return text;
}

// The written form of a piece of a reply's text, as pugixml prints it from a whole document:
// a span was kept only for an element or attribute the quick reader checked to be plain.
std::string SpanXmlText(std::string_view span, bool attribute) {
    pugi::xml_document document;
    if (attribute) {
        const std::string element = "<a " + std::string(span) + "/>";
        document.load_buffer(element.data(), element.size(), pugi::parse_default,
                             pugi::encoding_utf8);
        return AttributeText(document.document_element().first_attribute());
    }
    document.load_buffer(span.data(), span.size(), pugi::parse_default, pugi::encoding_utf8);
    return ElementText(document.document_element());
}

} // namespace

std::string TNode::XmlText() const {
    if (IsSpan(m_xmlHandle)) {
        const std::shared_ptr<const std::string> source = SourceOf();
        return source ? SpanXmlText(SpanText(*source, m_xmlHandle),
                                    (m_xmlHandle & HandleTagMask) == htAttributeSpan)
                      : std::string();
    }
    if ((m_xmlHandle & HandleTagMask) == htAttribute)
        return AttributeText(pugi::xml_attribute(
            reinterpret_cast<pugi::xml_attribute_struct*>(m_xmlHandle & ~HandleTagMask)));
    if (m_xmlHandle)
        return ElementText(pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(m_xmlHandle)));
    return m_xmlOwner ? m_xmlOwner->Text : std::string();
}

void TNode::SetXmlText(std::string text) {
    m_xmlHandle = 0;
    XmlOwner().Text = std::move(text); // a held document stays: the children may point into it
}

TNode::TXmlOwner& TNode::XmlOwner() {
    if (!m_xmlOwner)
        m_xmlOwner = std::make_unique<TXmlOwner>();
    return *m_xmlOwner;
}

std::shared_ptr<const pugi::xml_document> TNode::DocumentOf() const {
    for (const TNode* node = this; node; node = node->Parent) {
        if (node->m_xmlOwner && node->m_xmlOwner->Document)
            return node->m_xmlOwner->Document;
    }
    return nullptr;
}

std::shared_ptr<const std::string> TNode::SourceOf() const {
    for (const TNode* node = this; node; node = node->Parent) {
        if (node->m_xmlOwner && node->m_xmlOwner->Source)
            return node->m_xmlOwner->Source;
    }
    return nullptr;
}

// Called only just before the children are replaced: they may point into a document this node
// holds and stops holding here.
void TNode::CopyFields(const TNode& source) {
    Value = source.Value;
    Name = source.Name;
    Kind = source.Kind;
    const bool span = IsSpan(source.m_xmlHandle);
    std::shared_ptr<const pugi::xml_document> document =
        source.m_xmlHandle && !span ? source.DocumentOf() : nullptr;
    std::shared_ptr<const std::string> reply = span ? source.SourceOf() : nullptr;
    m_xmlHandle = document || reply ? source.m_xmlHandle : 0;
    std::string text = source.m_xmlOwner ? source.m_xmlOwner->Text : std::string();
    if (!document && !reply && text.empty() && !(m_xmlOwner && m_xmlOwner->Arena)) {
        m_xmlOwner.reset();
        return;
    }
    XmlOwner().Document = std::move(document);
    m_xmlOwner->Source = std::move(reply);
    m_xmlOwner->Text = std::move(text);
}

void TNode::Assign(const TNode& source) {
    if (&source == this)
        return;
    // The children are copied aside before anything is released: Source may lie inside this.
    auto copy = CreateEmpty(nullptr);
    try {
        copy->AssignChildren(source);
    } catch (const EInvalidCast&) {
        CopyFields(source);
        Clear();
        throw;
    }
    CopyFields(source);
    Clear();
    AdoptChildren(*copy);
}

TNode* TNode::GetByKey(std::string_view) const {
    throw EAbstractError();
}

TNode* TNode::GetByIndex(std::int64_t) const {
    throw EAbstractError();
}

TNode* TNode::GetItem(const TNodeKey&) const {
    throw EAbstractError();
}

void TNode::SetItem(const TNodeKey&, std::unique_ptr<TNode>) {
    throw EAbstractError();
}

void TNode::AssignChildren(const TNode&) {}

void TNode::Clear() {}

void TNode::FreeChildren() {
    Clear();
}

bool TNode::HasChildren() const {
    return false;
}

int TNode::Count() const {
    throw EAbstractError();
}

bool TNode::ContainsKey(std::string_view) const {
    throw EAbstractError();
}

void TNode::Put(std::string_view, std::unique_ptr<TNode>) {
    throw EAbstractError();
}

void TNode::PutValue(std::string_view, std::string_view, TNodeKind, TNodeValue) {
    throw EAbstractError();
}

int TNode::Add(std::unique_ptr<TNode>) {
    throw EAbstractError();
}

void TNode::AddValue(std::string_view, TNodeKind, TNodeValue) {
    throw EAbstractError();
}

void TNode::Remove(std::string_view) {
    throw EAbstractError();
}

void TNode::Delete(std::int64_t) {
    throw EAbstractError();
}

std::unique_ptr<TNode> TNode::CreateEmpty(TNode* parent) const {
    return std::make_unique<TNode>(parent);
}

void TNode::TakeChildren(std::vector<std::unique_ptr<TNode>>&) {}

void TNode::AdoptChildren(TNode&) {}

void TNode::ReleaseTrees(std::vector<std::unique_ptr<TNode>> nodes) {
    while (!nodes.empty()) {
        std::unique_ptr<TNode> node = std::move(nodes.back());
        nodes.pop_back();
        if (node)
            node->TakeChildren(nodes); // node now dies without children of its own
    }
}

void TNode::Collect(std::unique_ptr<TNode> node, std::vector<std::unique_ptr<TNode>>& nodes) {
    if (node && node->HasChildren())
        nodes.push_back(std::move(node));
    // else a leaf: releasing it here recurses no further
}

void TNode::Release(std::unique_ptr<TNode> node) {
    std::vector<std::unique_ptr<TNode>> nodes;
    nodes.push_back(std::move(node));
    ReleaseTrees(std::move(nodes));
}

// ---- TNodeDict ----

TNodeDict::TNodeDict(TNode* parent) : TNode(parent) {
    Kind = nkDict;
}

TNodeDict::~TNodeDict() {
    TNodeDict::Clear();
}

std::ptrdiff_t TNodeDict::Find(std::string_view key) const {
    if (m_index) {
        const auto it = m_index->find(FoldKey(key));
        return it == m_index->end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
    }
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (SameKey(m_entries[i].Key, key))
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

void TNodeDict::RebuildIndex() {
    m_index.reset();
    if (m_entries.size() < IndexThreshold)
        return;
    m_index = std::make_unique<std::unordered_map<std::string, std::size_t>>();
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_index->emplace(FoldKey(m_entries[i].Key), i);
}

TNode* TNodeDict::GetByKey(std::string_view key) const {
    const std::ptrdiff_t i = Find(key);
    if (i < 0)
        return nullptr;
    if (!m_entries[i].Node)
        throw ENodeError(KeyIllegal);
    return m_entries[i].Node.get();
}

TNode* TNodeDict::GetItem(const TNodeKey& key) const {
    return GetByKey(key.AsText());
}

void TNodeDict::SetItem(const TNodeKey& key, std::unique_ptr<TNode> node) {
    Put(key.AsText(), std::move(node));
}

void TNodeDict::AssignChildren(const TNode& source) {
    const auto* dict = dynamic_cast<const TNodeDict*>(&source);
    if (!dict)
        throw EInvalidCast();
    // Copied aside first: putting may release Source when it lies inside this dictionary.
    std::vector<Entry> copies;
    copies.reserve(dict->m_entries.size());
    for (const Entry& entry : dict->m_entries)
        copies.push_back({entry.Key, CopyNode(entry.Node.get(), this)});
    for (Entry& entry : copies)
        Put(entry.Key, std::move(entry.Node));
}

void TNodeDict::Clear() {
    std::vector<std::unique_ptr<TNode>> children;
    TakeChildren(children);
    ReleaseTrees(std::move(children));
}

void TNodeDict::FreeChildren() {
    Clear();
    m_entries.shrink_to_fit();
}

bool TNodeDict::HasChildren() const {
    return !m_entries.empty();
}

int TNodeDict::Count() const {
    return static_cast<int>(m_entries.size());
}

bool TNodeDict::ContainsKey(std::string_view key) const {
    return Find(key) >= 0;
}

void TNodeDict::Put(std::string_view key, std::unique_ptr<TNode> node) {
    if (node)
        node->Parent = this;
    const std::ptrdiff_t i = Find(key);
    if (i >= 0) {
        // The key keeps its place and the letter case it was first stored with.
        std::swap(m_entries[i].Node, node);
        Release(std::move(node));
        return;
    }
    m_entries.push_back({std::string(key), std::move(node)});
    if (m_index)
        m_index->emplace(FoldKey(key), m_entries.size() - 1);
    else if (m_entries.size() >= IndexThreshold)
        RebuildIndex();
}

void TNodeDict::PutValue(std::string_view key, std::string_view name, TNodeKind kind,
                         TNodeValue value) {
    auto child = std::make_unique<TNode>(this);
    child->Name = name;
    child->Kind = kind;
    child->Value = std::move(value);
    Put(key, std::move(child));
}

void TNodeDict::Remove(std::string_view key) {
    const std::ptrdiff_t i = Find(key);
    if (i < 0)
        throw ENodeError(KeyIllegal);
    std::unique_ptr<TNode> node = std::move(m_entries[i].Node);
    m_entries.erase(m_entries.begin() + i);
    RebuildIndex();
    Release(std::move(node));
}

std::unique_ptr<TNode> TNodeDict::CreateEmpty(TNode* parent) const {
    return std::make_unique<TNodeDict>(parent);
}

void TNodeDict::TakeChildren(std::vector<std::unique_ptr<TNode>>& children) {
    for (Entry& entry : m_entries)
        Collect(std::move(entry.Node), children);
    m_entries.clear();
    m_index.reset();
}

void TNodeDict::AdoptChildren(TNode& other) {
    auto& dict = dynamic_cast<TNodeDict&>(other);
    m_entries.swap(dict.m_entries);
    m_index.swap(dict.m_index);
    for (Entry& entry : m_entries) {
        if (entry.Node)
            entry.Node->Parent = this;
    }
}

// ---- TNodeList ----

TNodeList::TNodeList(TNode* parent) : TNode(parent) {
    Kind = nkList;
}

TNodeList::~TNodeList() {
    TNodeList::Clear();
}

TNode* TNodeList::GetByIndex(std::int64_t index) const {
    if (index < 0 || index >= static_cast<std::int64_t>(m_items.size()) || !m_items[index])
        throw ENodeError(IndexIllegal);
    return m_items[index].get();
}

TNode* TNodeList::GetItem(const TNodeKey& key) const {
    return GetByIndex(key.AsInteger());
}

void TNodeList::AssignChildren(const TNode& source) {
    const auto* list = dynamic_cast<const TNodeList*>(&source);
    if (!list)
        throw EInvalidCast();
    // Copied aside first: Source may be this list or lie inside it.
    std::vector<std::unique_ptr<TNode>> copies;
    copies.reserve(list->m_items.size());
    for (const auto& item : list->m_items)
        copies.push_back(CopyNode(item.get(), this));
    for (auto& copy : copies)
        Add(std::move(copy));
}

void TNodeList::Clear() {
    std::vector<std::unique_ptr<TNode>> children;
    TakeChildren(children);
    ReleaseTrees(std::move(children));
}

void TNodeList::FreeChildren() {
    Clear();
    m_items.shrink_to_fit();
}

bool TNodeList::HasChildren() const {
    return !m_items.empty();
}

int TNodeList::Count() const {
    return static_cast<int>(m_items.size()) - 1;
}

int TNodeList::Add(std::unique_ptr<TNode> node) {
    if (node)
        node->Parent = this;
    m_items.push_back(std::move(node));
    return static_cast<int>(m_items.size()) - 1;
}

void TNodeList::AddValue(std::string_view name, TNodeKind kind, TNodeValue value) {
    auto child = std::make_unique<TNode>(this);
    child->Name = name;
    child->Kind = kind;
    child->Value = std::move(value);
    Add(std::move(child));
}

void TNodeList::Delete(std::int64_t index) {
    if (index < 0 || index >= static_cast<std::int64_t>(m_items.size()))
        throw ENodeError(IndexIllegal);
    std::unique_ptr<TNode> node = std::move(m_items[index]);
    m_items.erase(m_items.begin() + index);
    Release(std::move(node));
}

std::unique_ptr<TNode> TNodeList::CreateEmpty(TNode* parent) const {
    return std::make_unique<TNodeList>(parent);
}

void TNodeList::TakeChildren(std::vector<std::unique_ptr<TNode>>& children) {
    for (auto& item : m_items)
        Collect(std::move(item), children);
    m_items.clear();
}

void TNodeList::AdoptChildren(TNode& other) {
    auto& list = dynamic_cast<TNodeList&>(other);
    m_items.swap(list.m_items);
    for (auto& item : m_items) {
        if (item)
            item->Parent = this;
    }
}

// ---- Reader ----

// Makes the nodes of one tree read: the first on the heap, the others in an arena that the
// first keeps, with whatever the nodes' handles point into.
class TTreeBuilder {
protected:
    TTreeBuilder() : m_arena(std::make_unique<TNodeArena>()) {}

    template <class T>
    std::unique_ptr<T> New(TNode* parent) {
        if (!m_topMade) {
            m_topMade = true;
            return std::make_unique<T>(parent);
        }
        T* node = new (m_arena->Allocate(sizeof(T))) T(parent);
        node->m_inArena = true;
        return std::unique_ptr<T>(node);
    }

    template <class T>
    std::unique_ptr<T> Top(std::unique_ptr<T> top,
                           std::shared_ptr<const pugi::xml_document> document,
                           std::shared_ptr<const std::string> source) {
        TNode::TXmlOwner& owner = top->XmlOwner();
        owner.Document = std::move(document);
        owner.Source = std::move(source);
        owner.Arena = std::move(m_arena);
        return top;
    }

private:
    std::unique_ptr<TNodeArena> m_arena;
    bool m_topMade = false;
};

// Reads the elements of a parsed document into nodes that keep plain handles into it; the
// caller gives the document to the top node read, which keeps it alive for them all.
class TReplyReader : TTreeBuilder {
public:
    explicit TReplyReader(std::shared_ptr<const pugi::xml_document> document)
        : m_document(std::move(document)) {}

    // The first node read, which keeps the document and the memory of all the others.
    template <class T>
    std::unique_ptr<T> Top(std::unique_ptr<T> top) {
        return TTreeBuilder::Top(std::move(top), std::move(m_document), nullptr);
    }

    std::unique_ptr<TNode> ReadElement(pugi::xml_node element, TNode* parent, int level) {
        if (level > kMaxReplyDepth)
            throw EReplyError("reply nested deeper than " + std::to_string(kMaxReplyDepth) +
                              " levels");
        const TNodeKind kind = KindOfElement(element);
        switch (kind) {
        case nkList:
            return ReadList(element, parent, level);
        case nkDict:
            return ReadDict(element, parent, level);
        default:
            return ReadScalar(element, kind, parent);
        }
    }

    std::unique_ptr<TNodeDict> ReadDict(pugi::xml_node element, TNode* parent, int level) {
        auto dict = New<TNodeDict>(parent);
        dict->Name = element.name();
        dict->m_entries.reserve(ChildCount(element));
        ReadChildren(element, *dict, level,
                     [&dict](std::string_view name, std::unique_ptr<TNode> node) {
                         dict->Put(name, std::move(node));
                     });
        SetHandle(*dict, element);
        return dict;
    }

    std::unique_ptr<TNodeList> ReadList(pugi::xml_node element, TNode* parent, int level) {
        auto list = New<TNodeList>(parent);
        list->m_items.reserve(ChildCount(element));
        ReadChildren(element, *list, level,
                     [&list](std::string_view name, std::unique_ptr<TNode> node) {
                         node->Name = name;
                         list->Add(std::move(node));
                     });
        SetHandle(*list, element);
        return list;
    }

    std::unique_ptr<TNode> ReadScalar(pugi::xml_node element, TNodeKind kind, TNode* parent) {
        auto node = New<TNode>(parent);
        node->Kind = kind;
        node->Name = element.name();
        const std::string_view text = TrimBlanks(element.child_value());
        switch (node->Kind) {
        case nkStr:
            node->Value = Utf8ToWide(text);
            break;
        case nkInt:
            node->Value = IntegerOf(text);
            break;
        case nkBool:
            node->Value = BooleanOf(text);
            break;
        default:
            break;
        }
        SetHandle(*node, element);
        return node;
    }

private:
    // An upper bound of the entries: blank text and comments are counted but not read.
    std::size_t ChildCount(pugi::xml_node element) {
        std::size_t count = 0;
        for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute())
            ++count;
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
            ++count;
        return count;
    }

    // Attributes first, then the content; blank text and comments between elements are no
    // entries, so a pretty-printed reply reads like a compact one.
    template <class Sink>
    void ReadChildren(pugi::xml_node element, TNode& container, int level, Sink sink) {
        for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name = a.name();
            auto node = New<TNode>(&container);
            node->Kind = nkOther;
            node->Name = name;
            node->m_xmlHandle = reinterpret_cast<std::uintptr_t>(a.internal_object()) | htAttribute;
            sink(name, std::move(node));
        }
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
            switch (child.type()) {
            case pugi::node_element:
                sink(child.name(), ReadElement(child, &container, level + 1));
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                if (!IsBlank(child.value()))
                    sink(TextName(child), ReadText(child, container));
                break;
            default:
                break;
            }
        }
    }

    const char* TextName(pugi::xml_node text) {
        return text.type() == pugi::node_cdata ? "#cdata-section" : "#text";
    }

    std::unique_ptr<TNode> ReadText(pugi::xml_node text, TNode& container) {
        auto node = New<TNode>(&container);
        node->Kind = nkOther;
        node->Name = TextName(text);
        SetHandle(*node, text);
        return node;
    }

    void SetHandle(TNode& node, pugi::xml_node source) {
        node.m_xmlHandle = reinterpret_cast<std::uintptr_t>(source.internal_object());
    }

    std::shared_ptr<const pugi::xml_document> m_document;
};

// ---- Quick reader ----

namespace {

// Character classes of the quick reader, as pugixml sorts characters.
enum : std::uint8_t {
    ccNameStart = 1, // may begin a name
    ccName = 2,      // may stand in a name
    ccBlank = 4,     // blank between elements
    ccTextStop = 8,  // ends a plain run of text
    ccValueStop = 16 // ends a plain run of an attribute's value (besides its quote)
};

constexpr std::array<std::uint8_t, 256> MakeCharClasses() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (letter || c == '_' || c == ':' || c >= 0x80)
            classes[c] |= ccNameStart | ccName;
        if ((c >= '0' && c <= '9') || c == '-' || c == '.')
            classes[c] |= ccName;
    }
    for (const unsigned char c : {' ', '\t', '\r', '\n'})
        classes[c] |= ccBlank;
    for (const unsigned char c : {'<', '&', '\r', '\0'})
        classes[c] |= ccTextStop;
    // Values with line breaks or tabs would have them turned into spaces: left to pugixml.
    for (const unsigned char c : {'<', '&', '\0', '\t', '\r', '\n'})
        classes[c] |= ccValueStop;
    return classes;
}

constexpr std::array<std::uint8_t, 256> CharClasses = MakeCharClasses();

bool IsClass(char c, std::uint8_t cls) {
    return (CharClasses[static_cast<unsigned char>(c)] & cls) != 0;
}

// Whether Text begins with Word; reads no further than the first difference, so never past
// the terminating NUL.
bool StartsWith(const char* text, std::string_view word) {
    for (const char c : word) {
        if (*text++ != c)
            return false;
    }
    return true;
}

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9')
        return c - '0';
    const int letter = (c | 0x20) - 'a';
    return hex && letter >= 0 && letter < 6 ? 10 + letter : -1;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Whether the rest of a declaration after "encoding" names UTF-8: pugixml converts some other
// encodings, which only it should read.
bool DeclaresUtf8(std::string_view rest) {
    const std::size_t quote = rest.find_first_of("\"'");
    if (quote == std::string_view::npos)
        return false;
    const std::size_t end = rest.find(rest[quote], quote + 1);
    return end != std::string_view::npos &&
           SameKey(rest.substr(quote + 1, end - quote - 1), "utf-8");
}

} // namespace

// Reads a reply straight from its text into the node tree, in one pass. It knows only the plain
// form the relay writes and gives up on anything else, which is then left to TReplyReader.
class TReplyScanner : TTreeBuilder {
public:
    struct TGiveUp {};

    explicit TReplyScanner(std::string_view text)
        : m_source(std::make_shared<std::string>(text)), m_p(m_source->c_str()) {}

    std::unique_ptr<TNodeDict> Read() {
        SkipProlog();
        const char* start = m_p++;
        const std::string_view name = ReadName();
        auto root = ReadDict(start, name, ReadTag(), nullptr, 1);
        return Top(std::move(root), nullptr, m_source);
    }

private:
    static constexpr int MaxAttributes = 8;
    // A larger dictionary is left to the full reader, which keeps an index of its keys.
    static constexpr std::size_t MaxEntries = 32;

    struct TAttribute {
        std::string_view Name;
        const char* Begin;
        const char* End;
    };

    struct TTag {
        std::array<TAttribute, MaxAttributes> Attributes;
        int Count = 0;
        TNodeKind Kind = nkOther;
        bool Typed = false;
        bool Empty = false; // ended with "/>"
    };

    [[noreturn]] static void GiveUp() { throw TGiveUp{}; }

    void SkipProlog() {
        if (StartsWith(m_p, "\xEF\xBB\xBF"))
            m_p += 3;
        SkipBlanks();
        if (StartsWith(m_p, "<?xml") && IsClass(m_p[5], ccBlank)) {
            ReadDeclaration();
            SkipBlanks();
        }
        if (*m_p != '<')
            GiveUp();
    }

    void ReadDeclaration() {
        const char* begin = m_p;
        while (*m_p && !StartsWith(m_p, "?>"))
            ++m_p;
        if (!*m_p)
            GiveUp();
        const std::string_view declaration(begin, m_p - begin);
        m_p += 2;
        const std::size_t encoding = declaration.find("encoding");
        if (encoding != std::string_view::npos && !DeclaresUtf8(declaration.substr(encoding + 8)))
            GiveUp();
    }

    bool SkipBlanks() {
        const char* begin = m_p;
        while (IsClass(*m_p, ccBlank))
            ++m_p;
        return m_p != begin;
    }

    std::string_view ReadName() {
        const char* begin = m_p;
        if (!IsClass(*m_p, ccNameStart))
            GiveUp();
        do
            ++m_p;
        while (IsClass(*m_p, ccName));
        return {begin, static_cast<std::size_t>(m_p - begin)};
    }

    // The attributes of a start tag whose name is read, up to its end, ">" or "/>".
    TTag ReadTag() {
        TTag tag;
        for (;;) {
            const bool blank = SkipBlanks();
            if (*m_p == '>') {
                ++m_p;
                return tag;
            }
            if (*m_p == '/') {
                if (m_p[1] != '>')
                    GiveUp();
                m_p += 2;
                tag.Empty = true;
                return tag;
            }
            if (!blank || tag.Count == MaxAttributes)
                GiveUp();
            ReadAttribute(tag);
        }
    }

    void ReadAttribute(TTag& tag) {
        const char* begin = m_p;
        const std::string_view name = ReadName();
        SkipBlanks();
        if (*m_p++ != '=')
            GiveUp();
        SkipBlanks();
        const char quote = *m_p;
        if (quote != '"' && quote != '\'')
            GiveUp();
        const char* value = ++m_p;
        while (*m_p != quote && !IsClass(*m_p, ccValueStop))
            ++m_p;
        if (*m_p != quote)
            GiveUp();
        if (!tag.Typed && IsTypeName(name)) {
            tag.Typed = true;
            tag.Kind = KindOfType(std::string_view(value, m_p - value));
        }
        ++m_p;
        tag.Attributes[tag.Count++] = {name, begin, m_p};
    }

    // After "</": the rest of the end tag of the element called Name.
    void ReadEndTag(std::string_view name) {
        if (!StartsWith(m_p, name))
            GiveUp();
        m_p += name.size();
        if (IsClass(*m_p, ccName))
            GiveUp();
        SkipBlanks();
        if (*m_p++ != '>')
            GiveUp();
    }

    // The element whose start tag begins at Start and whose name is read.
    std::unique_ptr<TNode> ReadElement(const char* start, std::string_view name, TNode* parent,
                                       int level) {
        if (level > kMaxReplyDepth)
            GiveUp();
        const TTag tag = ReadTag();
        switch (tag.Kind) {
        case nkDict:
            return ReadDict(start, name, tag, parent, level);
        case nkList:
            return ReadList(start, name, tag, parent, level);
        default:
            return ReadScalar(start, name, tag, parent);
        }
    }

    // The elements of a dictionary or list up to its end tag, each given to Sink with the
    // place its start tag begins and its name; only blanks may stand between them.
    template <class Sink>
    void ReadContent(std::string_view name, Sink sink) {
        for (;;) {
            SkipBlanks();
            if (*m_p != '<')
                GiveUp();
            const char* start = m_p++;
            if (*m_p == '/') {
                ++m_p;
                ReadEndTag(name);
                return;
            }
            sink(start, ReadName());
        }
    }

    std::unique_ptr<TNodeDict> ReadDict(const char* start, std::string_view name, const TTag& tag,
                                        TNode* parent, int level) {
        auto dict = New<TNodeDict>(parent);
        dict->Name = name;
        // Entries gather on a stack shared by every level, so each dictionary gets one
        // allocation of the right size.
        const std::size_t base = m_entries.size();
        for (int i = 0; i < tag.Count; ++i)
            PutEntry(base, tag.Attributes[i].Name, AttributeNode(tag.Attributes[i], *dict));
        if (!tag.Empty) {
            ReadContent(name, [&](const char* childStart, std::string_view key) {
                PutEntry(base, key, ReadElement(childStart, key, dict.get(), level + 1));
            });
        }
        const auto first = m_entries.begin() + static_cast<std::ptrdiff_t>(base);
        dict->m_entries.reserve(m_entries.size() - base);
        for (auto entry = first; entry != m_entries.end(); ++entry)
            dict->m_entries.push_back({std::string(entry->Key), std::move(entry->Node)});
        m_entries.erase(first, m_entries.end());
        dict->RebuildIndex();
        SetSpan(*dict, start, htSpan);
        return dict;
    }

    // As TNodeDict::Put: a key met again keeps its first place and letter case.
    void PutEntry(std::size_t base, std::string_view key, std::unique_ptr<TNode> node) {
        for (std::size_t i = base; i < m_entries.size(); ++i) {
            if (SameKey(m_entries[i].Key, key)) {
                m_entries[i].Node = std::move(node);
                return;
            }
        }
        if (m_entries.size() - base == MaxEntries)
            GiveUp();
        m_entries.push_back({key, std::move(node)});
    }

    std::unique_ptr<TNodeList> ReadList(const char* start, std::string_view name, const TTag& tag,
                                        TNode* parent, int level) {
        auto list = New<TNodeList>(parent);
        const std::size_t base = m_items.size();
        for (int i = 0; i < tag.Count; ++i)
            m_items.push_back(AttributeNode(tag.Attributes[i], *list));
        if (!tag.Empty) {
            ReadContent(name, [&](const char* childStart, std::string_view childName) {
                auto node = ReadElement(childStart, childName, list.get(), level + 1);
                node->Name = childName;
                m_items.push_back(std::move(node));
            });
        }
        const auto first = m_items.begin() + static_cast<std::ptrdiff_t>(base);
        list->m_items.reserve(m_items.size() - base);
        std::move(first, m_items.end(), std::back_inserter(list->m_items));
        m_items.erase(first, m_items.end());
        SetSpan(*list, start, htSpan);
        return list;
    }

    std::unique_ptr<TNode> AttributeNode(const TAttribute& attribute, TNode& container) {
        auto node = New<TNode>(&container);
        node->Kind = nkOther;
        node->Name = attribute.Name;
        node->m_xmlHandle =
            SpanHandle(Offset(attribute.Begin), attribute.End - attribute.Begin, htAttributeSpan);
        return node;
    }

    std::unique_ptr<TNode> ReadScalar(const char* start, std::string_view name, const TTag& tag,
                                      TNode* parent) {
        auto node = New<TNode>(parent);
        node->Kind = tag.Kind;
        node->Name = name;
        std::string_view text;
        if (!tag.Empty) {
            text = ReadText();
            if (m_p[1] != '/')
                GiveUp();
            m_p += 2;
            ReadEndTag(name);
        }
        SetValue(*node, TrimBlanks(text));
        SetSpan(*node, start, htSpan);
        return node;
    }

    // Text up to the next "<", references replaced and line breaks made "\n", as pugixml reads
    // it; valid until the next call.
    std::string_view ReadText() {
        const char* begin = m_p;
        while (!IsClass(*m_p, ccTextStop))
            ++m_p;
        if (*m_p == '<')
            return {begin, static_cast<std::size_t>(m_p - begin)};
        m_text.assign(begin, m_p);
        for (;;) {
            switch (*m_p) {
            case '<':
                return m_text;
            case '\0':
                GiveUp();
            case '\r':
                m_text += '\n';
                m_p += m_p[1] == '\n' ? 2 : 1;
                break;
            case '&':
                ReadReference();
                break;
            default:
                begin = m_p;
                while (!IsClass(*m_p, ccTextStop))
                    ++m_p;
                m_text.append(begin, m_p);
            }
        }
    }

    void ReadReference() {
        ++m_p;
        if (*m_p == '#') {
            ReadCharacterReference();
            return;
        }
        static constexpr std::pair<std::string_view, char> Named[] = {
            {"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'}};
        for (const auto& [word, c] : Named) {
            if (StartsWith(m_p, word)) {
                m_text += c;
                m_p += word.size();
                return;
            }
        }
        GiveUp();
    }

    void ReadCharacterReference() {
        ++m_p;
        const bool hex = *m_p == 'x';
        if (hex)
            ++m_p;
        std::uint32_t code = 0;
        int digits = 0;
        for (int digit; (digit = DigitValue(*m_p, hex)) >= 0; ++m_p) {
            if (++digits > 8)
                GiveUp();
            code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
        }
        const bool valid = code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (*m_p != ';' || digits == 0 || !valid)
            GiveUp();
        ++m_p;
        AppendUtf8(m_text, code);
    }

    // A value that does not convert is left to the full reader, which reports it.
    static void SetValue(TNode& node, std::string_view text) {
        switch (node.Kind) {
        case nkStr:
            node.Value = Utf8ToWide(text);
            return;
        case nkInt: {
            std::int64_t value = 0;
            if (!ParseDecimal(text, value))
                GiveUp();
            node.Value = value;
            return;
        }
        case nkBool: {
            bool value = false;
            if (!ParseBoolean(text, value))
                GiveUp();
            node.Value = value;
            return;
        }
        default:
            return;
        }
    }

    std::size_t Offset(const char* at) const {
        return static_cast<std::size_t>(at - m_source->data());
    }

    // The node's element runs from Start to where reading stands now.
    void SetSpan(TNode& node, const char* start, THandleTag tag) {
        node.m_xmlHandle = SpanHandle(Offset(start), static_cast<std::size_t>(m_p - start), tag);
    }

    std::shared_ptr<std::string> m_source; // ends with a NUL that stops every scan
    const char* m_p;
    std::string m_text;
    // An entry read, its key still in the text.
    struct TEntry {
        std::string_view Key;
        std::unique_ptr<TNode> Node;
    };

    // Declared after the builder's arena (a base) and so released before it.
    std::vector<TEntry> m_entries;
    std::vector<std::unique_ptr<TNode>> m_items;
};

std::unique_ptr<TNodeDict> ScanReply(std::string_view text) {
    if (text.size() > kMaxReplySize)
        return nullptr;
    try {
        return TReplyScanner(text).Read();
    } catch (const TReplyScanner::TGiveUp&) {
        return nullptr;
    }
}

TNodeKind KindOfElement(pugi::xml_node element) {
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
        if (IsTypeName(a.name()))
            return KindOfType(a.value());
    }
    return nkOther;
}

std::unique_ptr<TNodeDict> ParseReply(std::string_view text) {
    if (text.size() > kMaxReplySize)
        throw EReplyError("reply larger than " + std::to_string(kMaxReplySize) + " bytes");
    if (auto tree = ScanReply(text))
        return tree;
    auto document = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result result = document->load_buffer(text.data(), text.size());
    // Any other fault leaves what was parsed before it: a reply cut short still gives its tree.
    if (result.status == pugi::status_out_of_memory || result.status == pugi::status_internal_error)
        throw EReplyError(std::string("cannot read the reply: ") + result.description());
    const pugi::xml_node root = document->document_element();
    if (!root)
        throw EReplyError(std::string("no XML element in the reply: ") + result.description());
    TReplyReader reader(std::move(document));
    return reader.Top(reader.ReadDict(root, nullptr, 1));
}

std::unique_ptr<TNodeDict> ReadDocument(const pugi::xml_document& document) {
    return ReadDict(document.document_element(), nullptr);
}

std::unique_ptr<TNodeDict> ReadDict(pugi::xml_node element, TNode* parent) {
    auto document = OwnCopy(element);
    const pugi::xml_node copy = document->first_child();
    TReplyReader reader(std::move(document));
    return reader.Top(reader.ReadDict(copy, parent, LevelUnder(parent)));
}

std::unique_ptr<TNodeList> ReadList(pugi::xml_node element, TNode* parent) {
    auto document = OwnCopy(element);
    const pugi::xml_node copy = document->first_child();
    TReplyReader reader(std::move(document));
    return reader.Top(reader.ReadList(copy, parent, LevelUnder(parent)));
}

std::unique_ptr<TNode> ReadScalar(pugi::xml_node element, TNode* parent) {
    auto document = OwnCopy(element);
    const pugi::xml_node copy = document->first_child();
    TReplyReader reader(std::move(document));
    return reader.Top(reader.ReadScalar(copy, KindOfElement(copy), parent));
}

namespace {

const TNode* ChildAt(const TNode* node, std::string_view key) {
    const auto* dict = dynamic_cast<const TNodeDict*>(node);
    return dict ? dict->GetByKey(key) : nullptr;
}

} // namespace

std::string TextAt(const TNode* node, std::string_view key) {
    const TNode* child = ChildAt(node, key);
    return child ? child->AsText() : std::string();
}

std::int64_t IntegerAt(const TNode* node, std::string_view key) {
    const TNode* child = ChildAt(node, key);
    if (!child)
        return 0;
    try {
        return child->AsInteger();
    } catch (const EConvertError&) {
        return 0;
    }
}

const TNodeDict* DictAt(const TNode* node, std::string_view key) {
    return dynamic_cast<const TNodeDict*>(ChildAt(node, key));
}

const TNodeList* ListAt(const TNode* node, std::string_view key) {
    return dynamic_cast<const TNodeList*>(ChildAt(node, key));
}

} // namespace quillet
