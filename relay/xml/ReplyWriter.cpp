#include "relay/xml/ReplyWriter.h"

#include <stdexcept>

namespace quillet::relay {

namespace {

bool IsNameChar(unsigned char c, bool first) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80) {
        return true;
    }
    return !first && ((c >= '0' && c <= '9') || c == '-' || c == '.');
}

// Names come from our own code, but a stray character must not break the document: anything
// that cannot stand in an XML name becomes "_".
std::string SafeName(std::string_view name) {
    if (name.empty()) {
        return "item";
    }
    std::string out(name);
    for (size_t i = 0; i < out.size(); ++i) {
        if (!IsNameChar(static_cast<unsigned char>(out[i]), i == 0)) {
            out[i] = '_';
        }
    }
    return out;
}

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t len = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (overlong || surrogate || cp > 0x10FFFF || cp == 0xFFFE || cp == 0xFFFF) {
        return 0;
    }
    return len;
}

// Escapes markup characters, drops control characters XML cannot carry and replaces broken
// UTF-8 with U+FFFD, so any text a user posted still yields a readable reply.
void AppendText(std::string& out, std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
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
            case '\r':
                out += "&#13;";
                break;
            default:
                if (c >= 0x20 || c == '\t' || c == '\n') {
                    out += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        const size_t len = Utf8SequenceLength(text, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text.substr(i, len));
        i += len;
    }
}

} // namespace

ReplyWriter::ReplyWriter(std::string_view rootName) : m_root(SafeName(rootName)) {
    m_out.reserve(256);
    m_out += '<';
    m_out += m_root;
    m_out += '>';
}

void ReplyWriter::CheckOpen() const {
    if (m_finished) {
        throw std::logic_error("ReplyWriter used after Finish");
    }
}

void ReplyWriter::Open(std::string_view name, std::string_view type) {
    CheckOpen();
    m_out += '<';
    m_out += SafeName(name);
    m_out += " type=\"";
    m_out += type;
    m_out += "\">";
}

void ReplyWriter::Scalar(std::string_view name, std::string_view type, std::string_view text) {
    Open(name, type);
    AppendText(m_out, text);
    m_out += "</";
    m_out += SafeName(name);
    m_out += '>';
}

void ReplyWriter::Str(std::string_view name, std::string_view text) {
    Scalar(name, "str", text);
}

void ReplyWriter::Int(std::string_view name, int64_t value) {
    Scalar(name, "int", std::to_string(value));
}

void ReplyWriter::Bool(std::string_view name, bool value) {
    Scalar(name, "bool", value ? "True" : "False");
}

void ReplyWriter::BeginDict(std::string_view name) {
    Open(name, "dict");
    m_stack.push_back({SafeName(name), 'd'});
}

void ReplyWriter::BeginList(std::string_view name) {
    Open(name, "list");
    m_stack.push_back({SafeName(name), 'l'});
}

void ReplyWriter::Close(char kind) {
    CheckOpen();
    if (m_stack.empty() || m_stack.back().kind != kind) {
        throw std::logic_error(kind == 'd' ? "EndDict without an open dict"
                                           : "EndList without an open list");
    }
    m_out += "</";
    m_out += m_stack.back().name;
    m_out += '>';
    m_stack.pop_back();
}

void ReplyWriter::EndDict() {
    Close('d');
}

void ReplyWriter::EndList() {
    Close('l');
}

void ReplyWriter::Error(std::string_view text, int code) {
    Str("_error", text);
    if (code >= 0) {
        Int("_error_code", code);
    }
}

std::string ReplyWriter::Finish() {
    CheckOpen();
    while (!m_stack.empty()) {
        Close(m_stack.back().kind);
    }
    m_out += "</";
    m_out += m_root;
    m_out += '>';
    m_finished = true;
    return std::move(m_out);
}

} // namespace quillet::relay
