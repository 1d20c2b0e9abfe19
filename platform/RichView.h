#pragma once

#include <QColor>
#include <QString>
#include <QTextBrowser>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace quillet {

class TGraphic;
class TRVTableItem;

// A colour number as the old platform wrote them: the low byte is red, then green, then blue.
QColor ColorFromNumber(std::uint32_t number);

// ---- Styles ----

enum TRVAlignment : std::uint8_t { rvaLeft = 0, rvaRight = 1, rvaCenter = 2, rvaJustify = 3 };

// Vertical alignment of a picture in its line.
enum TRVVAlign : std::uint8_t { rvvaBaseline = 0, rvvaAbsMiddle = 4 };

struct TRVTextStyle {
    QString StyleName;
    QString FontName = QStringLiteral("Arial");
    int Size = 10; // points
    QColor Color;  // invalid: the window-text colour of the view's palette
    bool Bold = false;
    bool Italic = false;
    bool Jump = false;     // its items are clickable
    QColor HoverColor;     // while the mouse is over a jump item; invalid: unchanged
    QColor HoverBackColor; // likewise, the background
    bool UnderlineOnHover = false;
    QColor UnderlineColor; // invalid: the text colour
    int CharSpacing = 0;   // pixels added between characters
    bool Unicode = true;
};

struct TRVParaStyle {
    QString StyleName;
    int LeftIndent = 0;  // pixels
    int RightIndent = 0; // pixels
    TRVAlignment Alignment = rvaLeft;
    int LineSpacing = 100; // per cent of the single line height
    QColor Background;     // invalid: none
    int DefaultTextStyle = -1;
};

// The style sheet of a document: text styles and paragraph styles by number.
class TRVStyle {
public:
    std::vector<TRVTextStyle> TextStyles;
    std::vector<TRVParaStyle> ParaStyles;
    QColor Color; // the view's background; invalid: the palette's
};

// ---- Document model ----

enum TRVItemKind : std::uint8_t { rvikText, rvikPicture, rvikHotPicture, rvikTable };

// The value an item carries back when it is clicked: none, a text or an integer.
using TRVTag = std::variant<std::monostate, std::string, int>;

// Text of a tag ("" for none or an integer tag); the integer of a tag (-1 for none or a text).
std::string TagText(const TRVTag& tag);
int TagInt(const TRVTag& tag);

class TRVItem {
public:
    TRVItemKind Kind = rvikText;
    QString Text;      // text items
    int StyleNo = -1;  // text style of a text item; -1 for pictures and tables
    int ParaIndex = 0; // the paragraph of its document that holds the item
    QString Name;      // pictures and tables
    TRVTag Tag;
    std::unique_ptr<TGraphic> Picture; // pictures; owned
    TRVVAlign VAlign = rvvaBaseline;
    std::unique_ptr<TRVTableItem> Table; // table items; owned

    TRVItem();
    ~TRVItem();
    TRVItem(TRVItem&&) noexcept;
    TRVItem& operator=(TRVItem&&) noexcept;
};

struct TRVParagraph {
    int StyleNo = 0;
};

// A flow of paragraphs of items: the whole document, or the content of one table cell.
class TRVDocument {
public:
    TRVDocument();
    ~TRVDocument();
    TRVDocument(const TRVDocument&) = delete;
    TRVDocument& operator=(const TRVDocument&) = delete;

    void Clear();

    // paraNo: a paragraph style number opens a new paragraph in that style; -1 continues the
    // current paragraph (on the first item of a document it opens a paragraph in style 0).
    void AddText(const QString& text, int styleNo, int paraNo, TRVTag tag = {});
    // Each line break opens a new paragraph in the style of the current one.
    void AddTextBreaks(const QString& text, int styleNo, int paraNo);
    void AddPicture(const QString& name, std::unique_ptr<TGraphic> picture, int paraNo,
                    TRVVAlign vAlign, TRVTag tag = {});
    void AddHotPicture(const QString& name, std::unique_ptr<TGraphic> picture, int paraNo,
                       TRVVAlign vAlign, TRVTag tag = {});
    // Appends a table item under Name in a new paragraph; returns it (owned by the document).
    TRVTableItem* AddTable(const QString& name, std::unique_ptr<TRVTableItem> table,
                           int paraNo = 0);

    int ItemCount() const { return static_cast<int>(m_items.size()); }
    const TRVItem& Item(int index) const { return m_items.at(index); }
    TRVItem& Item(int index) { return m_items.at(index); }
    int ParagraphCount() const { return static_cast<int>(m_paragraphs.size()); }
    const TRVParagraph& Paragraph(int index) const { return m_paragraphs.at(index); }
    // Indexes of the items of one paragraph, in order.
    std::vector<int> ParagraphItems(int paraIndex) const;

    // Counts every change, and every Clear; a view compares them to redraw only what changed.
    std::uint64_t Revision() const { return m_revision; }
    std::uint64_t ClearCount() const { return m_clearCount; }

private:
    TRVItem& Append(TRVItem item, int paraNo);

    std::vector<TRVItem> m_items;
    std::vector<TRVParagraph> m_paragraphs;
    std::uint64_t m_revision = 0;
    std::uint64_t m_clearCount = 0;
};

// One row of a table and the document of its cell.
class TRVTableRow {
public:
    TRVDocument Cell;
};

// A table of one column.
class TRVTableItem {
public:
    explicit TRVTableItem(int rowCount);

    int CellPadding = 1;
    int CellBorderWidth = 1;
    int CellHPadding = 1;
    int CellVPadding = 1;
    int CellHSpacing = 2;
    int CellVSpacing = 2;

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int ColCount() const { return 1; }
    // Inserts count new empty rows before row index (index == RowCount appends).
    void InsertRows(int index, int count);
    // The document of a cell; std::out_of_range outside the table.
    TRVDocument& Cell(int row, int col);
    const TRVDocument& Cell(int row, int col) const;
    const TRVTableRow& Row(int row) const { return *m_rows.at(row); }

private:
    std::vector<std::unique_ptr<TRVTableRow>> m_rows;
};

// Where a jump item lies: its document and its index there.
struct TRVJumpLocation {
    const TRVDocument* Document = nullptr;
    int ItemNo = -1;
};

// ---- The view ----

// Shows a document and reports clicks on its jump items. Drawing is incremental: Format draws
// the whole document, Reformat only what was added since, so appending a row stays cheap
// however long the document is.
class TRichView : public QTextBrowser {
    Q_OBJECT
public:
    explicit TRichView(QWidget* parent = nullptr);
    ~TRichView() override;

    TRVDocument& Document() { return m_document; }
    const TRVDocument& Document() const { return m_document; }
    // Not owned; must outlive the view's use of it. Setting it redraws the document.
    void SetStyle(TRVStyle* style);
    TRVStyle* Style() const { return m_style; }

    // Empties the document and what is shown.
    void Clear();
    // Lays the whole document out anew.
    void Format();
    // Lays out only the rows and items added since the last layout.
    void Reformat();

    // The item behind a jump identifier; Document is null for an unknown identifier.
    TRVJumpLocation JumpLocation(int id) const;
    // The tag of the item behind a jump identifier; none for an unknown identifier.
    TRVTag JumpTag(int id) const;
    // The identifier of a drawn jump item, -1 when it is not drawn.
    int JumpIdOf(const TRVDocument* document, int itemNo) const;
    // The text document as drawn (for inspection).
    QTextDocument* Rendered() const { return document(); }

signals:
    // A jump item was clicked.
    void Jump(int id);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    TRVDocument m_document;
    TRVStyle* m_style = nullptr;
};

} // namespace quillet
