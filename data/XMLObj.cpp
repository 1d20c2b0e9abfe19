#include "data/XMLObj.h"

#include <algorithm>
#include <charconv>

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

// "type" in any letter case, without measuring every attribute name first.
bool IsTypeName(const char* name) {
    return (name[0] | 0x20) == 't' && (name[1] | 0x20) == 'y' && (name[2] | 0x20) == 'p' &&
           (name[3] | 0x20) == 'e' && name[4] == '\0';
}

// Compared byte by byte, as this runs once for every element read.
bool Is(const char* text, const char* word) {
    while (*word && *text == *word)
        ++text, ++word;
    return *text == *word;
}

TNodeKind KindOfType(const char* type) {
    switch (type[0]) {
    case 's':
        return Is(type, "str") ? nkStr : nkOther;
    case 'i':
        return Is(type, "int") ? nkInt : nkOther;
    case 'b':
        return Is(type, "bool") ? nkBool : nkOther;
    case 'l':
        return Is(type, "list") ? nkList : nkOther;
    case 'd':
        return Is(type, "dict") ? nkDict : nkOther;
    default:
        return nkOther;
    }
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

bool BooleanOf(std::string_view text) {
    if (SameKey(text, "true"))
        return true;
    if (SameKey(text, "false"))
        return false;
    bool zero = false;
    if (!ParseNumber(text, zero))
        throw EConvertError(Quote(text) + " is not a valid boolean value");
    return !zero;
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
    static constexpr std::size_t Alignment = alignof(std::max_align_t);
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

std::string TNode::XmlText() const {
    if (m_xmlHandle & 1) {
        const pugi::xml_attribute attribute(
            reinterpret_cast<pugi::xml_attribute_struct*>(m_xmlHandle & ~std::uintptr_t{1}));
        return std::string(attribute.name()) + "=\"" + EscapeAttribute(attribute.value()) + "\"";
    }
    if (m_xmlHandle) {
        std::string text;
        StringWriter writer(text);
        pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(m_xmlHandle))
            .print(writer, "", pugi::format_raw, pugi::encoding_utf8);
        return text;
    }
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

// Called only just before the children are replaced: they may point into a document this node
// holds and stops holding here.
void TNode::CopyFields(const TNode& source) {
    Value = source.Value;
    Name = source.Name;
    Kind = source.Kind;
    std::shared_ptr<const pugi::xml_document> document =
        source.m_xmlHandle ? source.DocumentOf() : nullptr;
    m_xmlHandle = document ? source.m_xmlHandle : 0;
    std::string text = source.m_xmlOwner ? source.m_xmlOwner->Text : std::string();
    if (!document && text.empty() && !(m_xmlOwner && m_xmlOwner->Arena)) {
        m_xmlOwner.reset();
        return;
    }
    XmlOwner().Document = std::move(document);
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

// Reads the elements of a parsed document into nodes that keep plain handles into it; the
// caller gives the document to the top node read, which keeps it alive for them all.
class TReplyReader {
public:
    explicit TReplyReader(std::shared_ptr<const pugi::xml_document> document)
        : m_document(std::move(document)), m_arena(std::make_unique<TNodeArena>()) {}

    // The first node read, which keeps the document and the memory of all the others.
    template <class T>
    std::unique_ptr<T> Top(std::unique_ptr<T> top) {
        TNode::TXmlOwner& owner = top->XmlOwner();
        owner.Document = std::move(m_document);
        owner.Arena = std::move(m_arena);
        return top;
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
            node->m_xmlHandle = reinterpret_cast<std::uintptr_t>(a.internal_object()) | 1;
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
    std::unique_ptr<TNodeArena> m_arena;
    bool m_topMade = false;
};

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
