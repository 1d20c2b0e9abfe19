#include "views/NodeRead.h"

#include "data/XMLObj.h"

#include <QString>
#include <limits>
#include <variant>

namespace quillet {

const TNode* NodeEntry(const TNode* node, std::string_view key) {
    const auto* dict = dynamic_cast<const TNodeDict*>(node);
    return dict ? dict->GetByKey(key) : nullptr;
}

const TNode* NodePath(const TNode* node, std::string_view path) {
    while (node) {
        const std::size_t slash = path.find('/');
        node = NodeEntry(node, path.substr(0, slash));
        if (slash == std::string_view::npos)
            return node;
        path.remove_prefix(slash + 1);
    }
    return nullptr;
}

std::string EntryText(const TNode* node, std::string_view path) {
    const TNode* entry = NodePath(node, path);
    return entry ? entry->AsText() : std::string();
}

std::int64_t EntryInteger(const TNode* node, std::string_view path) {
    const TNode* entry = NodePath(node, path);
    return entry ? entry->AsInteger() : 0;
}

std::int32_t EntryCount(const TNode* node, std::string_view path) {
    const std::int64_t value = EntryInteger(node, path);
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw EConvertError("'" + std::to_string(value) + "' is not a valid integer value");
    return static_cast<std::int32_t>(value);
}

bool EntryBool(const TNode* node, std::string_view path) {
    const TNode* entry = NodePath(node, path);
    if (!entry)
        return false;
    if (const auto* flag = std::get_if<bool>(&entry->Value))
        return *flag;
    if (std::holds_alternative<std::monostate>(entry->Value))
        return false;
    const QString text = QString::fromStdString(entry->AsText()).trimmed();
    if (text.isEmpty())
        return false;
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return entry->AsInteger() != 0;
}

} // namespace quillet
