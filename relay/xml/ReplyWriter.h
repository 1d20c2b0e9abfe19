#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::relay {

// Writes one reply in the typed XML dialect the client reads: UTF-8, no whitespace between
// elements, every element below the root carrying its "type" ("str", "int", "bool", "dict",
// "list"). Element names are keys of the enclosing dictionary, or item names inside a list.
class ReplyWriter {
public:
    explicit ReplyWriter(std::string_view rootName = "reply");

    void Str(std::string_view name, std::string_view text);
    void Int(std::string_view name, int64_t value);
    void Bool(std::string_view name, bool value);
    void BeginDict(std::string_view name);
    void EndDict();
    void BeginList(std::string_view name);
    void EndList();

    // An error reply: "_error" (a text) and, when code is not negative, "_error_code".
    void Error(std::string_view text, int code = -1);

    // Closes every open element and the root; the writer is done after this.
    std::string Finish();

private:
    void Open(std::string_view name, std::string_view type);
    void Close(char kind);
    void Scalar(std::string_view name, std::string_view type, std::string_view text);
    void CheckOpen() const;

    struct Element {
        std::string name;
        char kind; // 'd' or 'l'
    };

    std::string m_out;
    std::string m_root;
    std::vector<Element> m_stack; // open elements below the root
    bool m_finished = false;
};

} // namespace quillet::relay
