#include "platform/RichView.h"

#include "platform/Graphic.h"

#include <QAbstractTextDocumentLayout>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace quillet {
namespace {

std::unique_ptr<TGraphic> Picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    return std::make_unique<TGraphic>(image);
}

TEST(RichDocument, ItemsOpenAndContinueParagraphs) {
    TRVDocument doc;
    doc.AddText("a", 1, -1); // -1 on the first item opens a paragraph in style 0
    doc.AddText("b", 2, -1, std::string("url_x"));
    doc.AddHotPicture("image", Picture(4, 4), 3, rvvaAbsMiddle, std::string("image_L"));
    doc.AddPicture("emotion", Picture(2, 2), -1, rvvaBaseline);
    doc.AddTextBreaks("x\ny\r\nz", 1, -1); // x continues; y and z open paragraphs in style 3
    doc.AddText("n", 1, 0, 7);

    ASSERT_EQ(doc.ItemCount(), 8);
    ASSERT_EQ(doc.ParagraphCount(), 5);
    const int styles[] = {0, 3, 3, 3, 0};
    for (int p = 0; p < 5; ++p)
        EXPECT_EQ(doc.Paragraph(p).StyleNo, styles[p]) << "paragraph " << p;
    EXPECT_EQ(doc.ParagraphItems(0), (std::vector<int>{0, 1}));
    EXPECT_EQ(doc.ParagraphItems(1), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(doc.Item(4).Text, "x");
    EXPECT_EQ(doc.Item(5).Text, "y");
    EXPECT_EQ(doc.Item(6).Text, "z");

    EXPECT_EQ(doc.Item(1).Kind, rvikText);
    EXPECT_EQ(doc.Item(1).StyleNo, 2);
    EXPECT_EQ(TagText(doc.Item(1).Tag), "url_x");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(doc.Item(0).Tag));
    EXPECT_EQ(doc.Item(2).Kind, rvikHotPicture);
    EXPECT_EQ(doc.Item(2).Name, "image");
    EXPECT_EQ(doc.Item(2).VAlign, rvvaAbsMiddle);
    EXPECT_EQ(doc.Item(2).Picture->Width(), 4);
    EXPECT_EQ(TagText(doc.Item(2).Tag), "image_L");
    EXPECT_EQ(doc.Item(3).Kind, rvikPicture);
    EXPECT_EQ(doc.Item(3).Name, "emotion");
    // An integer tag reads as no text.
    EXPECT_EQ(TagInt(doc.Item(doc.ItemCount() - 1).Tag), 7);
    EXPECT_EQ(TagText(doc.Item(doc.ItemCount() - 1).Tag), "");

    doc.Clear();
    EXPECT_EQ(doc.ItemCount(), 0);
    EXPECT_EQ(doc.ParagraphCount(), 0);
}

TEST(RichDocument, TableRowsInsertBeforeAndCellsAreBounded) {
    TRVTableItem table(1);
    table.Cell(0, 0).AddText("last", 0, 0);
    table.InsertRows(0, 1);
    table.Cell(0, 0).AddText("first", 0, 0);
    table.InsertRows(1, 2);
    ASSERT_EQ(table.RowCount(), 4);
    EXPECT_EQ(table.Cell(0, 0).Item(0).Text, "first");
    EXPECT_EQ(table.Cell(1, 0).ItemCount(), 0);
    EXPECT_EQ(table.Cell(3, 0).Item(0).Text, "last");
    EXPECT_THROW(table.Cell(0, 1), std::out_of_range);
    EXPECT_THROW(table.Cell(4, 0), std::out_of_range);
    EXPECT_THROW(table.InsertRows(5, 1), std::out_of_range);
}

// A view with a style sheet of its own: 0 plain, 1 link, 2 hover-only jump; paragraph 1 a
// right-aligned, indented, spaced paragraph on a grey ground.
class RichViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        TRVTextStyle plain;
        plain.FontName = "Arial";
        plain.Size = 10;
        TRVTextStyle link = plain;
        link.Jump = true;
        link.Color = ColorFromNumber(16744448);
        link.UnderlineOnHover = true;
        link.HoverColor = Qt::blue;
        link.Size = 15;
        m_style.TextStyles = {plain, link};
        TRVParaStyle main;
        TRVParaStyle buttons;
        buttons.Alignment = rvaRight;
        buttons.LeftIndent = 20;
        buttons.RightIndent = 30;
        buttons.LineSpacing = 150;
        buttons.Background = ColorFromNumber(15921906);
        m_style.ParaStyles = {main, buttons};
        m_view.resize(400, 300);
        m_view.SetStyle(&m_style);
        auto table = std::make_unique<TRVTableItem>(1);
        table->CellPadding = table->CellBorderWidth = table->CellHPadding = 0;
        table->CellVPadding = table->CellHSpacing = table->CellVSpacing = 0;
        m_table = m_view.Document().AddTable("TABLE", std::move(table));
        m_view.Format();
    }

    // Inserts a row before Before with one paragraph of plain text and draws the change.
    void AddRow(int before, const QString& text) {
        m_table->InsertRows(before, 1);
        m_table->Cell(before, 0).AddText(text, 0, 0);
        m_view.Reformat();
    }

    std::string Drawn() const { return m_view.Rendered()->toPlainText().toStdString(); }

    // The first fragment of the drawn document whose text is Text.
    QTextFragment Fragment(const QString& text) const {
        for (QTextBlock b = m_view.Rendered()->begin(); b.isValid(); b = b.next()) {
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                if (it.fragment().text() == text)
                    return it.fragment();
            }
        }
        return {};
    }

    // The middle of a drawn fragment, in viewport coordinates.
    QPoint Centre(const QTextFragment& fragment) {
        QTextCursor cursor(m_view.Rendered());
        cursor.setPosition(fragment.position());
        const QRect start = m_view.cursorRect(cursor);
        cursor.setPosition(fragment.position() + fragment.length());
        const QRect end = m_view.cursorRect(cursor);
        return QPoint((start.left() + end.left()) / 2, start.center().y());
    }

    TRVStyle m_style;
    TRichView m_view;
    TRVTableItem* m_table = nullptr;
};

TEST_F(RichViewTest, ReformatDrawsRowsWhereTheModelHasThem) {
    AddRow(0, "r0");
    AddRow(1, "r1");
    AddRow(1, "middle"); // before a row already drawn
    AddRow(0, "top");
    // Items added to a drawn cell are drawn on the next layout.
    m_table->Cell(1, 0).AddText(" more", 0, -1);
    m_table->Cell(1, 0).AddText("second paragraph", 0, 1);
    // An item of the document after the table opens its own paragraph.
    m_view.Document().AddText("after", 0, -1);
    m_view.Reformat();

    const std::string incremental = Drawn();
    EXPECT_EQ(incremental, "top\nr0 more\nsecond paragraph\nmiddle\nr1\n\nafter");
    m_view.Format();
    EXPECT_EQ(Drawn(), incremental);
}

TEST_F(RichViewTest, ANewRowLeavesTheRowsDrawnBeforeInPlace) {
    for (int i = 0; i < 20; ++i)
        AddRow(i, QString("row %1").arg(i));
    const QTextBlock before = m_view.Rendered()->findBlockByNumber(5);
    const int revision = before.revision();
    AddRow(20, "row 20");
    // Appending did not write the earlier paragraphs again.
    EXPECT_EQ(m_view.Rendered()->findBlockByNumber(5).revision(), revision);
    EXPECT_EQ(m_view.Rendered()->blockCount(), 22);
}

TEST_F(RichViewTest, StylesReachTheDrawnDocument) {
    m_table->Cell(0, 0).AddText("plain", 0, 0);
    m_table->Cell(0, 0).AddText("link", 1, -1, std::string("url_x"));
    m_table->Cell(0, 0).AddText("buttons", 0, 1);
    m_view.Reformat();

    const QTextCharFormat link = Fragment("link").charFormat();
    EXPECT_EQ(link.fontPointSize(), 15);
    EXPECT_EQ(link.foreground().color(), QColor(0, 128, 255));
    EXPECT_TRUE(link.isAnchor());
    EXPECT_FALSE(link.fontUnderline());
    EXPECT_FALSE(Fragment("plain").charFormat().isAnchor());

    const QTextBlockFormat buttons =
        m_view.Rendered()->findBlock(Fragment("buttons").position()).blockFormat();
    EXPECT_EQ(buttons.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(buttons.leftMargin(), 20);
    EXPECT_EQ(buttons.rightMargin(), 30);
    EXPECT_EQ(buttons.lineHeight(), 150);
    EXPECT_EQ(buttons.lineHeightType(), QTextBlockFormat::ProportionalHeight);
    EXPECT_EQ(buttons.background().color(), QColor(242, 242, 242));
}

TEST_F(RichViewTest, AClickOnADrawnJumpItemReportsItsTag) {
    for (int i = 0; i < 3; ++i)
        AddRow(i, QString("row %1").arg(i));
    TRVDocument& cell = m_table->Cell(1, 0);
    cell.AddText("click me", 1, 1, std::string("mention_a_b"));
    cell.AddHotPicture("image", Picture(40, 30), 0, rvvaBaseline, std::string("image_big"));
    m_view.Reformat();
    m_view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));
    QSignalSpy jumps(&m_view, &TRichView::Jump);

    QTest::mouseClick(m_view.viewport(), Qt::LeftButton, {}, Centre(Fragment("click me")));
    ASSERT_EQ(jumps.count(), 1);
    int id = jumps.takeFirst().at(0).toInt();
    EXPECT_EQ(TagText(m_view.JumpTag(id)), "mention_a_b");
    const TRVJumpLocation at = m_view.JumpLocation(id);
    EXPECT_EQ(at.Document, &cell);
    EXPECT_EQ(at.Document->Item(at.ItemNo).Text, "click me");

    // A picture inside a link: its middle is half its size right of where it starts.
    const QTextFragment picture = Fragment(QString(QChar::ObjectReplacementCharacter));
    QTextCursor cursor(m_view.Rendered());
    cursor.setPosition(picture.position() + 1);
    const QRect after = m_view.cursorRect(cursor);
    QTest::mouseClick(m_view.viewport(), Qt::LeftButton, {},
                      QPoint(after.left() - 20, after.bottom() - 15));
    ASSERT_EQ(jumps.count(), 1);
    id = jumps.takeFirst().at(0).toInt();
    EXPECT_EQ(TagText(m_view.JumpTag(id)), "image_big");

    QTest::mouseClick(m_view.viewport(), Qt::LeftButton, {}, Centre(Fragment("row 2")));
    EXPECT_EQ(jumps.count(), 0);
}

TEST_F(RichViewTest, HoverPutsTheStyleHoverLookOnAndTakesItOff) {
    AddRow(0, "plain text");
    m_table->Cell(0, 0).AddText("link", 1, -1, std::string("url_x"));
    m_view.Reformat();
    m_view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));

    QTest::mouseMove(m_view.viewport(), Centre(Fragment("link")));
    QTextCharFormat hovered = Fragment("link").charFormat();
    EXPECT_EQ(hovered.foreground().color(), QColor(Qt::blue));
    EXPECT_TRUE(hovered.fontUnderline());

    QTest::mouseMove(m_view.viewport(), Centre(Fragment("plain text")));
    const QTextCharFormat left = Fragment("link").charFormat();
    EXPECT_EQ(left.foreground().color(), QColor(0, 128, 255));
    EXPECT_FALSE(left.fontUnderline());
}

TEST_F(RichViewTest, IdentifiersOfAClearedDocumentLeadNowhere) {
    AddRow(0, "row");
    m_table->Cell(0, 0).AddText("link", 1, -1, std::string("url_x"));
    m_view.Reformat();
    const int id = m_view.JumpIdOf(&m_table->Cell(0, 0), 1);
    ASSERT_GE(id, 0);
    EXPECT_EQ(TagText(m_view.JumpTag(id)), "url_x");

    m_view.Document().Clear(); // behind the view's back: the cell is gone
    EXPECT_EQ(m_view.JumpLocation(id).Document, nullptr);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(m_view.JumpTag(id)));
    m_view.Reformat();
    EXPECT_EQ(Drawn(), "");
}

TEST_F(RichViewTest, RightClickClearsTheSelection) {
    AddRow(0, "some words to select");
    m_view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));
    m_view.selectAll();
    ASSERT_TRUE(m_view.textCursor().hasSelection());
    QTest::mouseClick(m_view.viewport(), Qt::RightButton, {},
                      Centre(Fragment("some words to select")));
    EXPECT_FALSE(m_view.textCursor().hasSelection());
}

} // namespace
} // namespace quillet
