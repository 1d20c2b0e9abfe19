#pragma once

#include "data/XMLObj.h"

#include <string>

namespace quillet::test {

// "" when A and B are the same tree: names, kinds, values, keys and their order, parents, and
// the written form of the nodes less than XmlDepth levels down; else the first difference.
inline std::string TreeDifference(const TNode& a, const TNode& b, int xmlDepth = 1 << 30,
                                  const std::string& path = "/") {
    if (a.Name != b.Name)
        return path + ": name '" + a.Name + "' against '" + b.Name + "'";
    if (a.Kind != b.Kind)
        return path + ": kind " + std::to_string(a.Kind) + " against " + std::to_string(b.Kind);
    if (a.Value != b.Value)
        return path + ": value '" + a.AsText() + "' against '" + b.AsText() + "'";
    if (xmlDepth > 0 && a.XmlText() != b.XmlText())
        return path + ": written form '" + a.XmlText() + "' against '" + b.XmlText() + "'";
    const auto* dictA = dynamic_cast<const TNodeDict*>(&a);
    const auto* dictB = dynamic_cast<const TNodeDict*>(&b);
    const auto* listA = dynamic_cast<const TNodeList*>(&a);
    const auto* listB = dynamic_cast<const TNodeList*>(&b);
    if (!dictA != !dictB || !listA != !listB)
        return path + ": one is a dictionary or list, the other not";
    if (dictA) {
        if (dictA->Entries().size() != dictB->Entries().size())
            return path + ": " + std::to_string(dictA->Entries().size()) + " entries against " +
                   std::to_string(dictB->Entries().size());
        for (std::size_t i = 0; i < dictA->Entries().size(); ++i) {
            const auto& ea = dictA->Entries()[i];
            const auto& eb = dictB->Entries()[i];
            if (ea.Key != eb.Key)
                return path + ": key '" + ea.Key + "' against '" + eb.Key + "'";
            if (ea.Node->Parent != &a || eb.Node->Parent != &b)
                return path + ea.Key + ": parent is not the dictionary";
            const std::string difference =
                TreeDifference(*ea.Node, *eb.Node, xmlDepth - 1, path + ea.Key + "/");
            if (!difference.empty())
                return difference;
        }
    }
    if (listA) {
        if (listA->Items().size() != listB->Items().size())
            return path + ": " + std::to_string(listA->Items().size()) + " items against " +
                   std::to_string(listB->Items().size());
        for (std::size_t i = 0; i < listA->Items().size(); ++i) {
            const std::string at = path + std::to_string(i) + "/";
            if (listA->Items()[i]->Parent != &a || listB->Items()[i]->Parent != &b)
                return at + ": parent is not the list";
            const std::string difference =
                TreeDifference(*listA->Items()[i], *listB->Items()[i], xmlDepth - 1, at);
            if (!difference.empty())
                return difference;
        }
    }
    return "";
}

} // namespace quillet::test
