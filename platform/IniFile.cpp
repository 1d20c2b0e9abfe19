#include "platform/IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <algorithm>
#include <sstream>
#include <unistd.h>

namespace quillet {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// Cuts at MaxValueLength characters without splitting a UTF-8 sequence.
std::string CutValue(const std::string& value) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(value[i]) & 0xC0) == 0x80;
        if (!continuation && chars++ == TIniFile::MaxValueLength)
            return value.substr(0, i);
    }
    return value;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Names and values that could not be read back as written would let one value forge others.
void CheckWritable(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos)
        throw EIniFileError("Invalid section name \"" + std::string(section) + "\"");
    if (Trim(key) != key || key.empty() || HasLineBreak(key) ||
        key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';')
        throw EIniFileError("Invalid key name \"" + std::string(key) + "\"");
    if (HasLineBreak(value))
        throw EIniFileError("Line break in the value of key \"" + std::string(key) + "\"");
}

} // namespace

TIniFile::TIniFile(std::string fileName) : m_fileName(std::move(fileName)) {
    QFile file(QString::fromStdString(m_fileName));
    if (!file.exists())
        return;
    // A file that is there but cannot be read must not be replaced by the next write.
    m_unreadable = !file.open(QIODevice::ReadOnly);
    const QByteArray content = file.readAll();
    m_unreadable = m_unreadable || file.error() != QFileDevice::NoError;
    if (!m_unreadable)
        Parse(std::string_view(content.constData(), std::size_t(content.size())));
}

void TIniFile::Parse(std::string_view content) {
    if (content.starts_with("\xEF\xBB\xBF"))
        content.remove_prefix(3);
    TSection* current = nullptr;
    while (!content.empty()) {
        const auto end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string_view trimmed = Trim(line);
        if (trimmed.starts_with('[') && trimmed.find(']') != std::string_view::npos) {
            const auto close = trimmed.find(']');
            m_sections.push_back({std::string(Trim(trimmed.substr(1, close - 1))), {}});
            current = &m_sections.back();
            continue;
        }
        const auto equals = trimmed.find('=');
        TLine parsed;
        if (equals != std::string_view::npos && !trimmed.starts_with(';') && current) {
            parsed.m_isEntry = true;
            parsed.m_key = std::string(Trim(trimmed.substr(0, equals)));
            parsed.m_text = std::string(Trim(trimmed.substr(equals + 1)));
        } else {
            parsed.m_text = std::string(line);
        }
        if (current)
            current->m_lines.push_back(std::move(parsed));
        else
            m_preamble.push_back(std::move(parsed.m_text));
    }
}

const TIniFile::TSection* TIniFile::FindSection(std::string_view name) const {
    const auto it = std::find_if(m_sections.begin(), m_sections.end(),
                                 [&](const TSection& s) { return SameName(s.m_name, name); });
    return it == m_sections.end() ? nullptr : &*it;
}

TIniFile::TSection* TIniFile::FindSection(std::string_view name) {
    return const_cast<TSection*>(std::as_const(*this).FindSection(name));
}

const TIniFile::TLine* TIniFile::FindEntry(const TSection& section, std::string_view key) {
    const auto it =
        std::find_if(section.m_lines.begin(), section.m_lines.end(),
                     [&](const TLine& l) { return l.m_isEntry && SameName(l.m_key, key); });
    return it == section.m_lines.end() ? nullptr : &*it;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
    const TSection* s = FindSection(section);
    const TLine* entry = s ? FindEntry(*s, key) : nullptr;
    return CutValue(entry ? entry->m_text : std::string(defaultValue));
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
    std::vector<std::string> keys;
    const TSection* s = FindSection(section);
    if (!s)
        return keys;
    for (const TLine& line : s->m_lines) {
        if (line.m_isEntry && FindEntry(*s, line.m_key) == &line)
            keys.push_back(line.m_key);
    }
    return keys;
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> names;
    for (const TSection& s : m_sections) {
        if (FindSection(s.m_name) == &s)
            names.push_back(s.m_name);
    }
    return names;
}

bool TIniFile::SectionExists(std::string_view section) const {
    return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    const TSection* s = FindSection(section);
    return s && FindEntry(*s, key);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    CheckWritable(section, key, value);
    // Work on a copy so that a refused write leaves this object as the file still is.
    TIniFile changed = *this;
    TSection* s = changed.FindSection(section);
    if (!s) {
        changed.m_sections.push_back({std::string(section), {}});
        s = &changed.m_sections.back();
    }
    if (auto* entry = const_cast<TLine*>(FindEntry(*s, key))) {
        entry->m_text = std::string(value);
    } else {
        // A new key goes after the section's last entry, before trailing blank lines.
        auto pos = std::find_if(s->m_lines.rbegin(), s->m_lines.rend(),
                                [](const TLine& l) { return l.m_isEntry; });
        s->m_lines.insert(pos.base(), {true, std::string(key), std::string(value)});
    }
    changed.Flush();
    *this = std::move(changed);
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
    if (!ValueExists(section, key))
        return;
    TIniFile changed = *this;
    TSection* s = changed.FindSection(section);
    const TLine* entry = FindEntry(*s, key);
    s->m_lines.erase(s->m_lines.begin() + (entry - s->m_lines.data()));
    changed.Flush();
    *this = std::move(changed);
}

void TIniFile::EraseSection(std::string_view section) {
    if (!SectionExists(section))
        return;
    TIniFile changed = *this;
    std::erase_if(changed.m_sections,
                  [&](const TSection& s) { return SameName(s.m_name, section); });
    changed.Flush();
    *this = std::move(changed);
}

std::string TIniFile::Serialize() const {
    std::ostringstream out;
    for (const std::string& line : m_preamble)
        out << line << '\n';
    for (const TSection& s : m_sections) {
        out << '[' << s.m_name << "]\n";
        for (const TLine& line : s.m_lines) {
            if (line.m_isEntry)
                out << line.m_key << '=' << line.m_text << '\n';
            else
                out << line.m_text << '\n';
        }
    }
    return out.str();
}

void TIniFile::Flush() const {
    const QString name = QString::fromStdString(m_fileName);
    // An existing file the user may not write stays as it is, as a read-only file should.
    const bool exists = ::access(m_fileName.c_str(), F_OK) == 0;
    if (m_unreadable || (exists && ::access(m_fileName.c_str(), W_OK) != 0))
        throw EIniFileError("Unable to write to " + m_fileName);
    const std::string content = Serialize();
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(content.data(), static_cast<qint64>(content.size())) !=
            static_cast<qint64>(content.size()) ||
        !file.commit())
        throw EIniFileError("Unable to write to " + m_fileName);
}

} // namespace quillet
