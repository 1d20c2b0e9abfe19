#pragma once

#include "core/Global.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// A write the file system refused; the message names the file.
class EIniFileError : public Exception {
public:
    using Exception::Exception;
};

// A configuration file of sections and "key=value" lines. Section and key names match without
// regard to ASCII case. The file is read once when the object is made; each change is written at
// once through a temporary file renamed over the original, so a crash never leaves half a file.
class TIniFile {
public:
    // Longest value a read gives back, in characters; longer values are cut there.
    static constexpr std::size_t MaxValueLength = 2047;

    // A missing file reads as empty and the first write creates it. A file that is there but
    // cannot be read also reads as empty, and every write to it is refused.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return m_fileName; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // The keys of a section in file order; empty when the section is missing.
    std::vector<std::string> ReadSection(std::string_view section) const;
    std::vector<std::string> ReadSections() const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // Each of these writes the whole file at once; a refusal raises EIniFileError.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void DeleteKey(std::string_view section, std::string_view key);
    void EraseSection(std::string_view section);

private:
    // One line of the file: an entry, or any other line (comment, blank) kept as it was.
    struct TLine {
        bool m_isEntry = false;
        std::string m_key;
        std::string m_text; // the value of an entry, the raw text otherwise
    };
    struct TSection {
        std::string m_name;
        std::vector<TLine> m_lines;
    };

    void Parse(std::string_view content);
    std::string Serialize() const;
    void Flush() const;
    const TSection* FindSection(std::string_view name) const;
    TSection* FindSection(std::string_view name);
    static const TLine* FindEntry(const TSection& section, std::string_view key);

    std::string m_fileName;
    bool m_unreadable = false;
    std::vector<std::string> m_preamble; // lines before the first section
    std::vector<TSection> m_sections;
};

} // namespace quillet
