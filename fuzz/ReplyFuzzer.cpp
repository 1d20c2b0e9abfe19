// The reply reader on arbitrary bytes: a tree or one of the reader's own errors, and a tree
// that can be walked, copied and released whatever its shape. Where the quick way answers, its
// tree must be the full XML reader's.
#include "data/XMLObj.h"
#include "tests/data/TreeDifference.h"

#include <cstddef>
#include <cstdint>
#include <pugixml.hpp>
#include <string_view>

namespace {

using namespace quillet;

// Reads every node's value and written form, and each key and index lookup.
void Walk(const TNode& node, int depth) {
    (void)node.AsText();
    try {
        (void)node.AsInteger();
    } catch (const Exception&) {
    }
    if (depth < 4)
        (void)node.XmlText();
    if (const auto* dict = dynamic_cast<const TNodeDict*>(&node)) {
        for (const auto& entry : dict->Entries()) {
            if (dict->GetByKey(entry.Key) == nullptr)
                __builtin_trap(); // a key listed by the dictionary must be found again
            Walk(*entry.Node, depth + 1);
        }
    } else if (const auto* list = dynamic_cast<const TNodeList*>(&node)) {
        for (int i = 1; i <= list->Count(); ++i)
            Walk(*list->GetByIndex(i), depth + 1);
    }
}

void CompareWithFullReader(std::string_view text) {
    const auto quick = ScanReply(text);
    if (!quick)
        return;
    pugi::xml_document document;
    document.load_buffer(text.data(), text.size());
    const auto full = ReadDocument(document); // raising here is a difference too
    if (!test::TreeDifference(*quick, *full, 4).empty())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CompareWithFullReader(std::string_view(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<TNodeDict> tree;
    try {
        tree = ParseReply(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const Exception&) {
        return 0; // no element, too large or deep, or a typed value that is not one
    }
    if (!tree)
        __builtin_trap(); // the reader returns a tree or raises
    Walk(*tree, 0);
    TNodeDict copy;
    copy.Assign(*tree);
    if (copy.Count() != tree->Count())
        __builtin_trap();
    return 0;
}
