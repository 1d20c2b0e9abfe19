#include "platform/RichView.h"

#include "platform/Graphic.h"

#include <QAbstractTextDocumentLayout>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <stdexcept>
#include <unordered_map>

namespace quillet {

QColor ColorFromNumber(std::uint32_t number) {
    return QColor(number & 0xFF, (number >> 8) & 0xFF, (number >> 16) & 0xFF);
}

std::string TagText(const TRVTag& tag) {
    const auto* text = std::get_if<std::string>(&tag);
    return text ? *text : std::string();
}

int TagInt(const TRVTag& tag) {
    const auto* number = std::get_if<int>(&tag);
    return number ? *number : -1;
}

// ---- Document model ----

TRVItem::TRVItem() = default;
TRVItem::~TRVItem() = default;
TRVItem::TRVItem(TRVItem&&) noexcept = default;
TRVItem& TRVItem::operator=(TRVItem&&) noexcept = default;

TRVDocument::TRVDocument() = default;
TRVDocument::~TRVDocument() = default;

void TRVDocument::Clear() {
    m_items.clear();
    m_paragraphs.clear();
    ++m_revision;
    ++m_clearCount;
}

TRVItem& TRVDocument::Append(TRVItem item, int paraNo) {
    if (paraNo >= 0 || m_paragraphs.empty())
        m_paragraphs.push_back({paraNo >= 0 ? paraNo : 0});
    item.ParaIndex = static_cast<int>(m_paragraphs.size()) - 1;
    m_items.push_back(std::move(item));
    ++m_revision;
    return m_items.back();
}

void TRVDocument::AddText(const QString& text, int styleNo, int paraNo, TRVTag tag) {
    TRVItem item;
    item.Kind = rvikText;
    item.Text = text;
    item.StyleNo = styleNo;
    item.Tag = std::move(tag);
    Append(std::move(item), paraNo);
}

void TRVDocument::AddTextBreaks(const QString& text, int styleNo, int paraNo) {
    const QStringList lines = QString(text)
                                  .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                  .split(QLatin1Char('\n'));
    AddText(lines.first(), styleNo, paraNo);
    const int paraStyle = m_paragraphs.back().StyleNo;
    for (qsizetype i = 1; i < lines.size(); ++i)
        AddText(lines[i], styleNo, paraStyle);
}

void TRVDocument::AddPicture(const QString& name, std::unique_ptr<TGraphic> picture, int paraNo,
                             TRVVAlign vAlign, TRVTag tag) {
    TRVItem item;
    item.Kind = rvikPicture;
    item.Name = name;
    item.Picture = std::move(picture);
    item.VAlign = vAlign;
    item.Tag = std::move(tag);
    Append(std::move(item), paraNo);
}

void TRVDocument::AddHotPicture(const QString& name, std::unique_ptr<TGraphic> picture, int paraNo,
                                TRVVAlign vAlign, TRVTag tag) {
    AddPicture(name, std::move(picture), paraNo, vAlign, std::move(tag));
    m_items.back().Kind = rvikHotPicture;
}

TRVTableItem* TRVDocument::AddTable(const QString& name, std::unique_ptr<TRVTableItem> table,
                                    int paraNo) {
    TRVItem item;
    item.Kind = rvikTable;
    item.Name = name;
    item.Table = std::move(table);
    return Append(std::move(item), paraNo < 0 ? 0 : paraNo).Table.get();
}

std::vector<int> TRVDocument::ParagraphItems(int paraIndex) const {
    std::vector<int> items;
    for (int i = 0; i < ItemCount(); ++i) {
        if (m_items[i].ParaIndex == paraIndex)
            items.push_back(i);
    }
    return items;
}

TRVTableItem::TRVTableItem(int rowCount) {
    InsertRows(0, rowCount);
}

void TRVTableItem::InsertRows(int index, int count) {
    if (index < 0 || index > RowCount())
        throw std::out_of_range("row index out of range");
    for (int i = 0; i < count; ++i)
        m_rows.insert(m_rows.begin() + index, std::make_unique<TRVTableRow>());
}

TRVDocument& TRVTableItem::Cell(int row, int col) {
    if (col != 0)
        throw std::out_of_range("column index out of range");
    return m_rows.at(row)->Cell;
}

const TRVDocument& TRVTableItem::Cell(int row, int col) const {
    if (col != 0)
        throw std::out_of_range("column index out of range");
    return m_rows.at(row)->Cell;
}

// ---- The view ----

namespace {

constexpr auto JumpScheme = "rvjump";

QString JumpHref(int id) {
    return QStringLiteral("%1:%2").arg(QLatin1String(JumpScheme)).arg(id);
}

int JumpIdFromHref(const QString& href) {
    const QString prefix = QLatin1String(JumpScheme) + QLatin1Char(':');
    if (!href.startsWith(prefix))
        return -1;
    bool ok = false;
    const int id = href.mid(prefix.size()).toInt(&ok);
    return ok ? id : -1;
}

Qt::Alignment ToQt(TRVAlignment alignment) {
    switch (alignment) {
    case rvaRight:
        return Qt::AlignRight;
    case rvaCenter:
        return Qt::AlignHCenter;
    case rvaJustify:
        return Qt::AlignJustify;
    case rvaLeft:
        break;
    }
    return Qt::AlignLeft;
}

struct RenderedRow {
    const TRVTableRow* Row;
    int Blocks; // paragraphs drawn for the row's cell
    std::uint64_t CellRevision;
};

// A table is drawn as the paragraphs of its rows, one after the other: a new row is then laid
// out on its own, where a text table or frames would lay the whole table out again.
struct RenderedTable {
    const TRVTableItem* Table;
    QTextCursor Start; // the first paragraph of row 0; stays there when a row goes before it
    std::vector<RenderedRow> Rows;
};

} // namespace

struct TRichView::Impl {
    TRichView* View;
    // What is drawn: the root's items up to RootItems, at RootRevision, after RootClears clears.
    int RootItems = 0;
    std::uint64_t RootRevision = 0;
    std::uint64_t RootClears = 0;
    std::vector<RenderedTable> Tables;
    QTextCursor RootEnd;         // where the next root item goes
    bool RootNeedsBlock = false; // a table was drawn last: the next item opens a paragraph
    std::vector<TRVJumpLocation> Jumps;
    std::unordered_map<const TRVDocument*, std::unordered_map<int, int>> JumpIds;
    int PictureCount = 0;

    // The jump item under the mouse and its look before the hover colours were put on it.
    struct HoverPiece {
        QTextCursor Range;
        QTextCharFormat Original;
    };
    int HoverId = -1;
    std::vector<HoverPiece> Hover;

    explicit Impl(TRichView* view) : View(view) {}

    const TRVStyle* Style() const { return View->m_style; }

    QTextBlockFormat BlockFormat(int paraStyle) const {
        QTextBlockFormat format;
        const TRVStyle* style = Style();
        if (!style || paraStyle < 0 || paraStyle >= static_cast<int>(style->ParaStyles.size()))
            return format;
        const TRVParaStyle& para = style->ParaStyles[paraStyle];
        format.setLeftMargin(para.LeftIndent);
        format.setRightMargin(para.RightIndent);
        format.setAlignment(ToQt(para.Alignment));
        format.setLineHeight(para.LineSpacing, QTextBlockFormat::ProportionalHeight);
        if (para.Background.isValid())
            format.setBackground(para.Background);
        return format;
    }

    QTextCharFormat CharFormat(int textStyle) const {
        QTextCharFormat format;
        const TRVStyle* style = Style();
        format.setForeground(View->palette().color(QPalette::Text));
        if (!style || textStyle < 0 || textStyle >= static_cast<int>(style->TextStyles.size()))
            return format;
        const TRVTextStyle& text = style->TextStyles[textStyle];
        format.setFontFamilies({text.FontName});
        format.setFontPointSize(text.Size);
        format.setFontWeight(text.Bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(text.Italic);
        if (text.Color.isValid())
            format.setForeground(text.Color);
        if (text.CharSpacing != 0) {
            format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            format.setFontLetterSpacing(text.CharSpacing);
        }
        return format;
    }

    bool IsJump(const TRVItem& item) const {
        if (item.Kind == rvikHotPicture)
            return true;
        const TRVStyle* style = Style();
        return item.Kind == rvikText && style && item.StyleNo >= 0 &&
               item.StyleNo < static_cast<int>(style->TextStyles.size()) &&
               style->TextStyles[item.StyleNo].Jump;
    }

    int NewJump(const TRVDocument& document, int itemNo) {
        const int id = static_cast<int>(Jumps.size());
        Jumps.push_back({&document, itemNo});
        JumpIds[&document][itemNo] = id;
        return id;
    }

    void MarkJump(QTextCharFormat& format, const TRVDocument& document, int itemNo) {
        format.setAnchor(true);
        format.setAnchorHref(JumpHref(NewJump(document, itemNo)));
    }

    void RenderText(QTextCursor& cursor, const TRVDocument& document, int itemNo) {
        const TRVItem& item = document.Item(itemNo);
        QTextCharFormat format = CharFormat(item.StyleNo);
        if (IsJump(item))
            MarkJump(format, document, itemNo);
        // A line break inside an item stays inside its paragraph.
        QString text = item.Text;
        text.replace(QLatin1Char('\n'), QChar::LineSeparator);
        cursor.insertText(text, format);
    }

    void RenderPicture(QTextCursor& cursor, const TRVDocument& document, int itemNo) {
        const TRVItem& item = document.Item(itemNo);
        if (!item.Picture)
            return;
        const QString name = QStringLiteral("rvpicture:%1").arg(PictureCount++);
        View->document()->addResource(QTextDocument::ImageResource, QUrl(name),
                                      item.Picture->Image());
        QTextImageFormat format;
        format.setName(name);
        format.setWidth(item.Picture->Width());
        format.setHeight(item.Picture->Height());
        format.setVerticalAlignment(item.VAlign == rvvaAbsMiddle ? QTextCharFormat::AlignMiddle
                                                                 : QTextCharFormat::AlignBaseline);
        if (IsJump(item))
            MarkJump(format, document, itemNo);
        cursor.insertImage(format);
    }

    // Writes a document's paragraphs starting in the cursor's current (empty) block.
    void RenderFlow(QTextCursor& cursor, const TRVDocument& document) {
        int para = -1;
        for (int i = 0; i < document.ItemCount(); ++i) {
            const TRVItem& item = document.Item(i);
            if (item.ParaIndex != para) {
                const QTextBlockFormat format =
                    BlockFormat(document.Paragraph(item.ParaIndex).StyleNo);
                if (para < 0)
                    cursor.setBlockFormat(format);
                else
                    cursor.insertBlock(format);
                para = item.ParaIndex;
            }
            RenderItem(cursor, document, i);
        }
    }

    void RenderItem(QTextCursor& cursor, const TRVDocument& document, int itemNo) {
        switch (document.Item(itemNo).Kind) {
        case rvikText:
            RenderText(cursor, document, itemNo);
            break;
        case rvikPicture:
        case rvikHotPicture:
            RenderPicture(cursor, document, itemNo);
            break;
        case rvikTable:
            RenderTable(cursor, *document.Item(itemNo).Table);
            break;
        }
    }

    // Room for cell spacing, border and padding around a row's paragraphs (borders are not
    // drawn; the viewers use none).
    void ApplyRowInsets(int first, int last, const TRVTableItem& table) {
        const int h =
            table.CellHSpacing + table.CellBorderWidth + table.CellPadding + table.CellHPadding;
        const int v =
            table.CellVSpacing + table.CellBorderWidth + table.CellPadding + table.CellVPadding;
        if (h == 0 && v == 0)
            return;
        for (int number = first; number <= last; ++number) {
            const QTextBlock block = View->document()->findBlockByNumber(number);
            QTextBlockFormat format = block.blockFormat();
            format.setLeftMargin(format.leftMargin() + h);
            format.setRightMargin(format.rightMargin() + h);
            if (number == first)
                format.setTopMargin(format.topMargin() + v);
            if (number == last)
                format.setBottomMargin(format.bottomMargin() + v);
            QTextCursor(block).setBlockFormat(format);
        }
    }

    // Draws a row's cell starting in the cursor's (empty) block; returns its paragraph count.
    int RenderRowAt(QTextCursor& cursor, const TRVTableItem& table, const TRVTableRow& row) {
        cursor.setBlockFormat(QTextBlockFormat());
        cursor.setBlockCharFormat(QTextCharFormat());
        const int first = cursor.blockNumber();
        RenderFlow(cursor, row.Cell);
        const int last = cursor.blockNumber();
        ApplyRowInsets(first, last, table);
        return last - first + 1;
    }

    void RenderTable(QTextCursor& cursor, const TRVTableItem& table) {
        RenderedTable rendered{&table, QTextCursor(cursor), {}};
        rendered.Start.setKeepPositionOnInsert(true);
        for (int row = 0; row < table.RowCount(); ++row) {
            if (row > 0)
                cursor.insertBlock();
            const TRVTableRow& model = table.Row(row);
            rendered.Rows.push_back(
                {&model, RenderRowAt(cursor, table, model), model.Cell.Revision()});
        }
        Tables.push_back(std::move(rendered));
        RootNeedsBlock = true;
    }

    int FirstBlockOf(const RenderedTable& table, int row) const {
        int number = table.Start.blockNumber();
        for (int i = 0; i < row; ++i)
            number += table.Rows[i].Blocks;
        return number;
    }

    // Draws Row before row Index of what is drawn of the table (after the last for Index ==
    // the number of drawn rows).
    void InsertRow(RenderedTable& table, int index, const TRVTableRow& row) {
        QTextDocument* document = View->document();
        QTextCursor cursor(document);
        const int drawn = static_cast<int>(table.Rows.size());
        if (drawn == 0) {
            cursor = QTextCursor(table.Start.block());
        } else if (index < drawn) {
            // Split an empty paragraph off the front of the row that moves down.
            const QTextBlock next = document->findBlockByNumber(FirstBlockOf(table, index));
            cursor.setPosition(next.position());
            cursor.insertBlock(next.blockFormat(), next.charFormat());
            cursor.movePosition(QTextCursor::PreviousBlock);
        } else {
            const QTextBlock last = document->findBlockByNumber(FirstBlockOf(table, index) - 1);
            cursor.setPosition(last.position() + last.length() - 1);
            cursor.insertBlock();
        }
        const int blocks = RenderRowAt(cursor, *table.Table, row);
        table.Rows.insert(table.Rows.begin() + index, {&row, blocks, row.Cell.Revision()});
    }

    // Draws the cell of a row again after items were added to it.
    void RedrawRow(RenderedTable& table, int index) {
        RenderedRow& rendered = table.Rows[index];
        const int first = FirstBlockOf(table, index);
        QTextDocument* document = View->document();
        const QTextBlock last = document->findBlockByNumber(first + rendered.Blocks - 1);
        QTextCursor cursor(document);
        cursor.setPosition(document->findBlockByNumber(first).position());
        cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        rendered.Blocks = RenderRowAt(cursor, *table.Table, *rendered.Row);
        rendered.CellRevision = rendered.Row->Cell.Revision();
    }

    // Brings a drawn table up to its rows; false when rows went away (only a full layout helps).
    bool SyncTable(RenderedTable& rendered) {
        const TRVTableItem& table = *rendered.Table;
        if (table.RowCount() < static_cast<int>(rendered.Rows.size()))
            return false;
        for (int row = 0; row < table.RowCount(); ++row) {
            const TRVTableRow& model = table.Row(row);
            if (row < static_cast<int>(rendered.Rows.size()) && rendered.Rows[row].Row == &model) {
                if (rendered.Rows[row].CellRevision != model.Cell.Revision())
                    RedrawRow(rendered, row);
                continue;
            }
            InsertRow(rendered, row, model);
        }
        return true;
    }

    void Reset() {
        ClearHover();
        Tables.clear();
        Jumps.clear();
        JumpIds.clear();
        PictureCount = 0;
        RootItems = 0;
        RootNeedsBlock = false;
        View->document()->clear();
        View->document()->setDocumentMargin(0);
        RootEnd = QTextCursor(View->document());
        const TRVDocument& root = View->m_document;
        RootRevision = root.Revision();
        RootClears = root.ClearCount();
    }

    void FormatAll() {
        Reset();
        AppendRootItems();
    }

    // The root document only grows at its end; draws the items added since the last layout.
    void AppendRootItems() {
        const TRVDocument& root = View->m_document;
        int para = RootItems > 0 ? root.Item(RootItems - 1).ParaIndex : -1;
        for (int i = RootItems; i < root.ItemCount(); ++i) {
            const TRVItem& item = root.Item(i);
            if (item.ParaIndex != para || RootNeedsBlock) {
                const QTextBlockFormat format = BlockFormat(root.Paragraph(item.ParaIndex).StyleNo);
                if (para < 0)
                    RootEnd.setBlockFormat(format);
                else
                    RootEnd.insertBlock(format);
                para = item.ParaIndex;
                RootNeedsBlock = false;
            }
            RenderItem(RootEnd, root, i);
        }
        RootItems = root.ItemCount();
        RootRevision = root.Revision();
    }

    void FormatChanges() {
        const TRVDocument& root = View->m_document;
        if (root.ClearCount() != RootClears || root.ItemCount() < RootItems) {
            FormatAll();
            return;
        }
        for (RenderedTable& table : Tables) {
            if (!SyncTable(table)) {
                FormatAll();
                return;
            }
        }
        if (root.Revision() != RootRevision)
            AppendRootItems();
    }

    // ---- Hover ----

    void ClearHover() {
        for (HoverPiece& piece : Hover)
            piece.Range.setCharFormat(piece.Original);
        Hover.clear();
        HoverId = -1;
    }

    void SetHover(int id, const QPoint& viewportPos) {
        if (id == HoverId)
            return;
        ClearHover();
        const TRVTextStyle* style = HoverStyle(id);
        if (!style)
            return;
        const QTextCursor at = View->cursorForPosition(viewportPos);
        const QString href = JumpHref(id);
        for (auto it = at.block().begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().anchorHref() != href)
                continue;
            QTextCursor range(View->document());
            range.setPosition(fragment.position());
            range.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            Hover.push_back({range, fragment.charFormat()});
            range.mergeCharFormat(HoverFormat(*style));
        }
        HoverId = id;
    }

    const TRVTextStyle* HoverStyle(int id) const {
        const TRVJumpLocation at = View->JumpLocation(id);
        const TRVStyle* style = Style();
        if (!at.Document || !style)
            return nullptr;
        const TRVItem& item = at.Document->Item(at.ItemNo);
        if (item.Kind != rvikText || item.StyleNo >= static_cast<int>(style->TextStyles.size()))
            return nullptr;
        return &style->TextStyles[item.StyleNo];
    }

    static QTextCharFormat HoverFormat(const TRVTextStyle& style) {
        QTextCharFormat format;
        if (style.HoverColor.isValid())
            format.setForeground(style.HoverColor);
        if (style.HoverBackColor.isValid())
            format.setBackground(style.HoverBackColor);
        if (style.UnderlineOnHover) {
            format.setFontUnderline(true);
            if (style.UnderlineColor.isValid())
                format.setUnderlineColor(style.UnderlineColor);
        }
        return format;
    }
};

TRichView::TRichView(QWidget* parent) : QTextBrowser(parent), m_impl(std::make_unique<Impl>(this)) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setUndoRedoEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard |
                            Qt::LinksAccessibleByMouse);
    document()->setDocumentMargin(0);
    m_impl->Reset();
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        const int id = JumpIdFromHref(url.toString());
        if (id >= 0 && JumpLocation(id).Document)
            emit Jump(id);
    });
}

TRichView::~TRichView() = default;

void TRichView::SetStyle(TRVStyle* style) {
    m_style = style;
    if (style && style->Color.isValid()) {
        QPalette colours = palette();
        colours.setColor(QPalette::Base, style->Color);
        setPalette(colours);
    }
    Format();
}

void TRichView::Clear() {
    m_document.Clear();
    m_impl->Reset();
}

void TRichView::Format() {
    m_impl->FormatAll();
}

void TRichView::Reformat() {
    m_impl->FormatChanges();
}

TRVJumpLocation TRichView::JumpLocation(int id) const {
    // Identifiers of a document that was cleared behind the view's back lead nowhere.
    if (id < 0 || id >= static_cast<int>(m_impl->Jumps.size()) ||
        m_document.ClearCount() != m_impl->RootClears)
        return {};
    return m_impl->Jumps[id];
}

TRVTag TRichView::JumpTag(int id) const {
    const TRVJumpLocation at = JumpLocation(id);
    if (!at.Document)
        return {};
    return at.Document->Item(at.ItemNo).Tag;
}

int TRichView::JumpIdOf(const TRVDocument* document, int itemNo) const {
    const auto doc = m_impl->JumpIds.find(document);
    if (doc == m_impl->JumpIds.end())
        return -1;
    const auto item = doc->second.find(itemNo);
    return item == doc->second.end() ? -1 : item->second;
}

void TRichView::mouseMoveEvent(QMouseEvent* event) {
    QTextBrowser::mouseMoveEvent(event);
    const QPoint at = event->position().toPoint();
    const int id = JumpIdFromHref(anchorAt(at));
    if (id < 0)
        m_impl->ClearHover();
    else
        m_impl->SetHover(id, at);
}

void TRichView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        QTextCursor cursor = textCursor();
        cursor.clearSelection();
        setTextCursor(cursor);
        event->accept();
        return;
    }
    QTextBrowser::mousePressEvent(event);
}

void TRichView::leaveEvent(QEvent* event) {
    m_impl->ClearHover();
    QTextBrowser::leaveEvent(event);
}

} // namespace quillet
