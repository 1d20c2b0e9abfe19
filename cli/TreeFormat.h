#pragma once

#include "data/XMLObj.h"

#include <ostream>

namespace quillet {

// The tree as one line of JSON, without a line end: a dictionary is
// {"kind":"dict","name":N,"entries":[{"key":K,"node":NODE},...]}, a list
// {"kind":"list","name":N,"items":[NODE,...]} with every item from index 0, a scalar
// {"kind":K,"name":N,"value":V} with K "str", "int", "bool" or "other" and no "value" when the
// value holds nothing. An empty entry is null.
void PrintTreeJson(const TNode& node, std::ostream& out);

// The tree as text, one node a line, indented two spaces a level: "label: kind value", the label
// being the key in a dictionary and "[index] name" in a list; texts are quoted as in JSON, so a
// line break in a value never breaks the line.
void PrintTreeText(const TNode& root, std::ostream& out);

} // namespace quillet
