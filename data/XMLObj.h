#pragma once

#include "core/Global.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace quillet {

enum TNodeKind : std::uint8_t {
    nkStr = 0,
    nkInt = 1,
    nkOther = 2, // no known type; also entries made from attributes and text
    nkBool = 4,
    nkList = 5,
    nkDict = 6,
};

// Nothing, a UTF-16 text, an integer or a boolean.
using TNodeValue = std::variant<std::monostate, std::u16string, std::int64_t, bool>;

// "" / UTF-8 text / decimal digits / "True" or "False".
std::string ValueAsText(const TNodeValue& value);
// 0 / the decimal number in the text / the integer / 1 or 0; EConvertError for text that is no
// decimal integer.
std::int64_t ValueAsInteger(const TNodeValue& value);

// A lookup of the tree failed: "Key illegal!" or "Index illegal!".
class ENodeError : public Exception {
public:
    using Exception::Exception;
};

// A text or document that yields no reply tree: no element, too large, nested too deeply.
class EReplyError : public Exception {
public:
    using Exception::Exception;
};

// The key of GetItem and SetItem: a dictionary reads it as text, a list as an integer.
class TNodeKey {
public:
    TNodeKey(const char* text) : m_value(std::string(text)) {}
    TNodeKey(std::string_view text) : m_value(std::string(text)) {}
    TNodeKey(const std::string& text) : m_value(text) {}
    TNodeKey(int index) : m_value(std::int64_t{index}) {}
    TNodeKey(std::int64_t index) : m_value(index) {}

    std::string AsText() const;
    // EConvertError when the key is a text that is no decimal integer.
    std::int64_t AsInteger() const;

private:
    std::variant<std::string, std::int64_t> m_value;
};

class TTreeBuilder;
class TReplyReader;
class TReplyScanner;
class TNodeArena;

// A scalar, and the base of dictionaries and lists. Operations a class does not provide raise
// EAbstractError.
class TNode {
public:
    explicit TNode(TNode* parent = nullptr);
    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;
    virtual ~TNode();
    // Nodes of a tree read from XML live in the tree's arena, released with the whole tree.
    void operator delete(TNode* node, std::destroying_delete_t);

    TNodeValue Value;
    TNode* Parent = nullptr; // the dictionary or list holding this node; not owning
    TNodeKind Kind = nkStr;
    std::string Name;

    // The UTF-8 XML of the element the node was read from; "" for nodes made in code.
    std::string XmlText() const;
    void SetXmlText(std::string text);

    std::string AsText() const { return ValueAsText(Value); }
    std::int64_t AsInteger() const { return ValueAsInteger(Value); }

    // Deep copy of Source's fields and children. EInvalidCast when the children cannot be
    // copied into this class (after the fields have been copied).
    virtual void Assign(const TNode& source);
    virtual TNode* GetByKey(std::string_view key) const;
    virtual TNode* GetByIndex(std::int64_t index) const;
    virtual TNode* GetItem(const TNodeKey& key) const;
    virtual void SetItem(const TNodeKey& key, std::unique_ptr<TNode> node);
    virtual void AssignChildren(const TNode& source);
    virtual void Clear();
    virtual void FreeChildren();
    virtual bool HasChildren() const;
    virtual int Count() const;
    virtual bool ContainsKey(std::string_view key) const;
    virtual void Put(std::string_view key, std::unique_ptr<TNode> node);
    virtual void PutValue(std::string_view key, std::string_view name, TNodeKind kind,
                          TNodeValue value);
    virtual int Add(std::unique_ptr<TNode> node);
    virtual void AddValue(std::string_view name, TNodeKind kind, TNodeValue value);
    virtual void Remove(std::string_view key);
    virtual void Delete(std::int64_t index);

    // An empty node of this node's class under Parent.
    virtual std::unique_ptr<TNode> CreateEmpty(TNode* parent) const;

    TNode* operator[](const TNodeKey& key) const { return GetItem(key); }

protected:
    // Moves every child out into Children and leaves this node without any; lets a tree be
    // released without recursing once per level.
    virtual void TakeChildren(std::vector<std::unique_ptr<TNode>>& children);
    // Takes over the children of Other, a node of this class, which is left without any.
    virtual void AdoptChildren(TNode& other);
    // Releases whole trees with an explicit stack, however deep they are.
    static void ReleaseTrees(std::vector<std::unique_ptr<TNode>> nodes);
    static void Release(std::unique_ptr<TNode> node);
    // Keeps Node on Nodes for later release when it has children, else releases it now.
    static void Collect(std::unique_ptr<TNode> node, std::vector<std::unique_ptr<TNode>>& nodes);

private:
    friend class TTreeBuilder;
    friend class TReplyReader;
    friend class TReplyScanner;

    // Keeps the written form of nodes read from XML: the parsed document or the reply's text,
    // held by the root of the tree read (its nodes keep plain handles into it), or a text set
    // in code.
    struct TXmlOwner {
        ~TXmlOwner();
        std::shared_ptr<const pugi::xml_document> Document;
        std::shared_ptr<const std::string> Source; // the reply as received
        std::string Text;
        std::unique_ptr<TNodeArena> Arena; // the memory of the nodes below a tree read
    };

    void CopyFields(const TNode& source);
    std::shared_ptr<const pugi::xml_document> DocumentOf() const;
    std::shared_ptr<const std::string> SourceOf() const;
    TXmlOwner& XmlOwner();

    // Where the node was read, in the document or text held by this node or the nearest
    // ancestor holding one; 0 when the node was not read. The two lowest bits tell what the
    // rest is: a pugixml node (0) or attribute (1), or the offset and length in the reply's
    // text of an element (2) or attribute (3).
    std::uintptr_t m_xmlHandle = 0;
    std::unique_ptr<TXmlOwner> m_xmlOwner;
    bool m_inArena = false;
};

// Children by text key, case-insensitive (ASCII letters), in insertion order.
class TNodeDict : public TNode {
public:
    struct Entry {
        std::string Key;
        std::unique_ptr<TNode> Node;
    };

    explicit TNodeDict(TNode* parent = nullptr);
    ~TNodeDict() override;

    const std::vector<Entry>& Entries() const { return m_entries; }

    TNode* GetByKey(std::string_view key) const override;
    TNode* GetItem(const TNodeKey& key) const override;
    void SetItem(const TNodeKey& key, std::unique_ptr<TNode> node) override;
    void AssignChildren(const TNode& source) override;
    void Clear() override;
    void FreeChildren() override;
    bool HasChildren() const override;
    int Count() const override;
    bool ContainsKey(std::string_view key) const override;
    void Put(std::string_view key, std::unique_ptr<TNode> node) override;
    void PutValue(std::string_view key, std::string_view name, TNodeKind kind,
                  TNodeValue value) override;
    void Remove(std::string_view key) override;
    std::unique_ptr<TNode> CreateEmpty(TNode* parent) const override;

protected:
    void TakeChildren(std::vector<std::unique_ptr<TNode>>& children) override;
    void AdoptChildren(TNode& other) override;

private:
    friend class TReplyReader;
    friend class TReplyScanner;

    // Index of the key's entry, or -1.
    std::ptrdiff_t Find(std::string_view key) const;
    void RebuildIndex();

    std::vector<Entry> m_entries;
    // Case-folded key -> entry position; kept only for large dictionaries, so a reply with many
    // keys is not read in quadratic time.
    std::unique_ptr<std::unordered_map<std::string, std::size_t>> m_index;
};

// Children by position from 0; a list read from a reply holds its "type" attribute at 0.
class TNodeList : public TNode {
public:
    explicit TNodeList(TNode* parent = nullptr);
    ~TNodeList() override;

    const std::vector<std::unique_ptr<TNode>>& Items() const { return m_items; }

    TNode* GetByIndex(std::int64_t index) const override;
    TNode* GetItem(const TNodeKey& key) const override;
    void AssignChildren(const TNode& source) override;
    // Releases every entry, like destroying the list.
    void Clear() override;
    void FreeChildren() override;
    bool HasChildren() const override;
    // Entries less one: the elements of a list read from a reply are at 1 to Count.
    int Count() const override;
    int Add(std::unique_ptr<TNode> node) override;
    void AddValue(std::string_view name, TNodeKind kind, TNodeValue value) override;
    void Delete(std::int64_t index) override;
    std::unique_ptr<TNode> CreateEmpty(TNode* parent) const override;

protected:
    void TakeChildren(std::vector<std::unique_ptr<TNode>>& children) override;
    void AdoptChildren(TNode& other) override;

private:
    friend class TReplyReader;
    friend class TReplyScanner;

    std::vector<std::unique_ptr<TNode>> m_items;
};

// Bounds of what the reader accepts, so that a hostile reply can exhaust neither the stack nor
// memory.
inline constexpr std::size_t kMaxReplySize = 64 * 1024 * 1024;
inline constexpr int kMaxReplyDepth = 256; // the root element is level 1

// Reading a key a reply may lack: a missing key, or a node that is no dictionary, reads as "",
// 0 or nullptr, never as a failure; so does a number that does not convert.
std::string TextAt(const TNode* node, std::string_view key);
std::int64_t IntegerAt(const TNode* node, std::string_view key);
const TNodeDict* DictAt(const TNode* node, std::string_view key);
const TNodeList* ListAt(const TNode* node, std::string_view key);

// The reply in Text (bytes as received) as a tree owned by the caller. A text cut short yields
// the tree read before the fault. EReplyError when no element can be read, the text is larger
// than kMaxReplySize or nested deeper than kMaxReplyDepth; EConvertError for an "int" or "bool"
// element whose text is not one.
std::unique_ptr<TNodeDict> ParseReply(std::string_view text);
// The same for a document the caller has parsed.
std::unique_ptr<TNodeDict> ReadDocument(const pugi::xml_document& document);
// The quick way of ParseReply, for the plain form the relay writes: elements, attributes,
// character references and blanks between elements, read straight from the text. nullptr when
// the text holds anything else (comments, CDATA, a document type, a fault, a cut, a value that
// does not convert, ...): such a text needs the full XML reader. Where it answers, it gives the
// tree the full reader gives.
std::unique_ptr<TNodeDict> ScanReply(std::string_view text);

// The steps of the reader, each creating the node under Parent.
std::unique_ptr<TNodeDict> ReadDict(pugi::xml_node element, TNode* parent);
std::unique_ptr<TNodeList> ReadList(pugi::xml_node element, TNode* parent);
std::unique_ptr<TNode> ReadScalar(pugi::xml_node element, TNode* parent);
// The kind named by the element's "type" attribute (name in any case, value exact).
TNodeKind KindOfElement(pugi::xml_node element);

} // namespace quillet
