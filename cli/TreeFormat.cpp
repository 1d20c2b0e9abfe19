#include "cli/TreeFormat.h"

#include <string>
#include <string_view>

namespace quillet {

namespace {

// Length of the valid UTF-8 sequence at the start of Text, or 0.
std::size_t SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    const auto second = static_cast<unsigned char>(text[1]);
    if (second < low || second > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// A JSON string. Names and keys come straight from the reply's bytes, so a byte that is not
// UTF-8 becomes U+FFFD and the output stays valid JSON.
void WriteString(std::string_view text, std::ostream& out) {
    static const char* const Hex = "0123456789abcdef";
    out << '"';
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        std::size_t used = 1;
        if (c == '"' || c == '\\') {
            out << '\\' << static_cast<char>(c);
        } else if (c == '\n') {
            out << "\\n";
        } else if (c == '\r') {
            out << "\\r";
        } else if (c == '\t') {
            out << "\\t";
        } else if (c == '\b') {
            out << "\\b";
        } else if (c == '\f') {
            out << "\\f";
        } else if (c < 0x20) {
            out << "\\u00" << Hex[c >> 4] << Hex[c & 0xF];
        } else if (c < 0x80) {
            out << static_cast<char>(c);
        } else if ((used = SequenceLength(text)) != 0) {
            out << text.substr(0, used);
        } else {
            out << "\xEF\xBF\xBD";
            used = 1;
        }
        text.remove_prefix(used);
    }
    out << '"';
}

const char* ScalarKind(TNodeKind kind) {
    switch (kind) {
    case nkStr:
        return "str";
    case nkInt:
        return "int";
    case nkBool:
        return "bool";
    default:
        return "other";
    }
}

// A value that holds something, as JSON.
void WriteValue(const TNodeValue& value, std::ostream& out) {
    if (const auto* text = std::get_if<std::u16string>(&value))
        WriteString(WideToUtf8(*text), out);
    else if (const auto* integer = std::get_if<std::int64_t>(&value))
        out << *integer;
    else if (const auto* boolean = std::get_if<bool>(&value))
        out << (*boolean ? "true" : "false");
}

// Recursion follows the tree's depth, which the reader bounds for every reply tree.
void WriteJson(const TNode* node, std::ostream& out) {
    if (!node) {
        out << "null";
        return;
    }
    if (const auto* dict = dynamic_cast<const TNodeDict*>(node)) {
        out << "{\"kind\":\"dict\",\"name\":";
        WriteString(dict->Name, out);
        out << ",\"entries\":[";
        const char* separator = "";
        for (const TNodeDict::Entry& entry : dict->Entries()) {
            out << separator << "{\"key\":";
            WriteString(entry.Key, out);
            out << ",\"node\":";
            WriteJson(entry.Node.get(), out);
            out << '}';
            separator = ",";
        }
        out << "]}";
        return;
    }
    if (const auto* list = dynamic_cast<const TNodeList*>(node)) {
        out << "{\"kind\":\"list\",\"name\":";
        WriteString(list->Name, out);
        out << ",\"items\":[";
        const char* separator = "";
        for (const auto& item : list->Items()) {
            out << separator;
            WriteJson(item.get(), out);
            separator = ",";
        }
        out << "]}";
        return;
    }
    out << "{\"kind\":\"" << ScalarKind(node->Kind) << "\",\"name\":";
    WriteString(node->Name, out);
    if (!std::holds_alternative<std::monostate>(node->Value)) {
        out << ",\"value\":";
        WriteValue(node->Value, out);
    }
    out << '}';
}

void WriteText(const TNode* node, const std::string& label, int level, std::ostream& out) {
    out << std::string(2 * level, ' ') << label << ": ";
    if (!node) {
        out << "(none)\n";
        return;
    }
    if (const auto* dict = dynamic_cast<const TNodeDict*>(node)) {
        out << "dict\n";
        for (const TNodeDict::Entry& entry : dict->Entries())
            WriteText(entry.Node.get(), entry.Key, level + 1, out);
        return;
    }
    if (const auto* list = dynamic_cast<const TNodeList*>(node)) {
        out << "list\n";
        const auto& items = list->Items();
        for (std::size_t i = 0; i < items.size(); ++i) {
            std::string itemLabel = "[" + std::to_string(i) + "]";
            if (items[i] && !items[i]->Name.empty())
                itemLabel += " " + items[i]->Name;
            WriteText(items[i].get(), itemLabel, level + 1, out);
        }
        return;
    }
    out << ScalarKind(node->Kind);
    if (!std::holds_alternative<std::monostate>(node->Value)) {
        out << ' ';
        WriteValue(node->Value, out);
    }
    out << '\n';
}

} // namespace

void PrintTreeJson(const TNode& node, std::ostream& out) {
    WriteJson(&node, out);
}

void PrintTreeText(const TNode& root, std::ostream& out) {
    WriteText(&root, root.Name, 0, out);
}

} // namespace quillet
