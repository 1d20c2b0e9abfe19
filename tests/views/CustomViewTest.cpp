#include "views/CustomView.h"

#include "data/XMLObj.h"
#include "views/CustomViewFrame.h"
#include "views/ViewerFactory.h"

#include <QApplication>
#include <QTextDocument>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <string>

namespace quillet {
namespace {

class TTextContext : public TCustomContext {
public:
    TTextContext() = default;
    explicit TTextContext(std::string text) : Text(std::move(text)) {}
    void Assign(const TCustomContext& source) override {
        const auto* other = dynamic_cast<const TTextContext*>(&source);
        if (!other)
            throw EInvalidCast();
        Text = other->Text;
    }
    std::string Text;
};

class TOtherContext : public TCustomContext {};

// Draws a context's text as one paragraph; the text "boom" fails half-way through its row.
class TTextViewer : public TCustomViewer {
public:
    TTextViewer() { ContextClass = &NewContext<TTextContext>; }

protected:
    void RenderContext(int index, TCustomContext& context) override {
        TCustomViewer::RenderContext(index, context);
        const auto& c = static_cast<TTextContext&>(context);
        Table->Cell(index, 0).AddText(QString::fromStdString(c.Text), tsText, psMain);
        if (c.Text == "boom")
            throw EConvertError("bad row");
    }
};

const TTextContext& At(const TCustomViewer& viewer, int i) {
    return static_cast<const TTextContext&>(*viewer.Contexts.at(i));
}

TEST(CustomViewer, EachContextIsACopyDrawnInItsRowBeforeTheEmptyLastRow) {
    TTextViewer viewer;
    EXPECT_EQ(viewer.Table, nullptr);
    TTextContext shared("same");
    viewer.AddContext(TTextContext("first"));
    viewer.AddContext(shared);
    viewer.AddContext(shared);
    shared.Text = "changed by the caller";

    const TRVDocument& doc = viewer.reText->Document();
    ASSERT_EQ(doc.ItemCount(), 1);
    EXPECT_EQ(doc.Item(0).Kind, rvikTable);
    EXPECT_EQ(doc.Item(0).Name, "TABLE");
    ASSERT_EQ(doc.Item(0).Table.get(), viewer.Table);
    const TRVTableItem& table = *viewer.Table;
    EXPECT_EQ(table.ColCount(), 1);
    for (int value : {table.CellPadding, table.CellBorderWidth, table.CellHPadding,
                      table.CellVPadding, table.CellHSpacing, table.CellVSpacing})
        EXPECT_EQ(value, 0);

    ASSERT_EQ(table.RowCount(), 4);
    EXPECT_EQ(table.Cell(3, 0).ItemCount(), 0);
    const char* texts[] = {"first", "same", "same"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(table.Cell(i, 0).Item(0).Text, texts[i]);
        EXPECT_EQ(At(viewer, i).Text, texts[i]);
    }
    EXPECT_NE(viewer.Contexts[1].get(), viewer.Contexts[2].get());
    EXPECT_EQ(viewer.reText->Rendered()->toPlainText().toStdString(), "first\nsame\nsame\n");
}

TEST(CustomViewer, ClearContextsStartsANewTableAtRowZero) {
    TTextViewer viewer;
    viewer.AddContext(TTextContext("old 1"));
    viewer.AddContext(TTextContext("old 2"));
    viewer.ClearContexts();
    EXPECT_TRUE(viewer.Contexts.empty());
    EXPECT_EQ(viewer.Table, nullptr);
    EXPECT_EQ(viewer.reText->Document().ItemCount(), 0);

    viewer.AddContext(TTextContext("new"));
    ASSERT_NE(viewer.Table, nullptr);
    ASSERT_EQ(viewer.Table->RowCount(), 2);
    EXPECT_EQ(viewer.Table->Cell(0, 0).Item(0).Text, "new");
    EXPECT_EQ(viewer.reText->Rendered()->toPlainText().toStdString(), "new\n");
}

TEST(CustomViewer, ARefusedContextIsNotAddedAndADrawingErrorReachesTheCaller) {
    TTextViewer viewer;
    viewer.AddContext(TTextContext("ok"));
    EXPECT_THROW(viewer.AddContext(TOtherContext()), EInvalidCast);
    EXPECT_EQ(viewer.Contexts.size(), 1u);
    EXPECT_EQ(viewer.Table->RowCount(), 2);

    EXPECT_THROW(viewer.AddContext(TTextContext("boom")), EConvertError);
    // The copy and its partly drawn row stay; the next context goes after them.
    ASSERT_EQ(viewer.Contexts.size(), 2u);
    EXPECT_EQ(At(viewer, 1).Text, "boom");
    viewer.AddContext(TTextContext("after"));
    ASSERT_EQ(viewer.Table->RowCount(), 4);
    EXPECT_EQ(viewer.Table->Cell(2, 0).Item(0).Text, "after");
    EXPECT_EQ(viewer.reText->Rendered()->toPlainText().toStdString(), "ok\nboom\nafter\n");
}

TEST(CustomViewer, BaseStyleSheet) {
    const TRVStyle style = BaseViewerStyle();
    struct Text {
        const char* name;
        const char* font;
        int size;
        QColor colour;
        bool jump;
        bool unicode;
    };
    const Text texts[] = {
        {"Header", "Segoe UI", 15, QColor(), true, true},
        {"text", "Arial", 10, QColor(), false, true},
        {"Link", "Arial", 10, QColor(0, 128, 255), true, true},
        {"Button", "Arial", 8, QColor(0, 0, 160), true, true},
        {"emotion", "Arial", 10, QColor(), false, false},
        {"Button Sep", "Segoe UI", 8, QColor(), false, true},
    };
    ASSERT_EQ(style.TextStyles.size(), std::size(texts));
    for (size_t i = 0; i < std::size(texts); ++i) {
        const TRVTextStyle& s = style.TextStyles[i];
        SCOPED_TRACE(texts[i].name);
        EXPECT_EQ(s.StyleName, texts[i].name);
        EXPECT_EQ(s.FontName, texts[i].font);
        EXPECT_EQ(s.Size, texts[i].size);
        EXPECT_EQ(s.Color, texts[i].colour);
        EXPECT_EQ(s.Jump, texts[i].jump);
        EXPECT_EQ(s.Unicode, texts[i].unicode);
    }
    EXPECT_EQ(style.TextStyles[tsHeader].HoverColor, QColor(Qt::blue));
    EXPECT_TRUE(style.TextStyles[tsLink].UnderlineOnHover);
    EXPECT_EQ(style.TextStyles[tsLink].UnderlineColor, QColor(0, 128, 255));
    EXPECT_EQ(style.TextStyles[tsButton].HoverColor, QColor(Qt::cyan));
    EXPECT_EQ(style.TextStyles[tsButton].CharSpacing, 1);

    struct Para {
        const char* name;
        TRVAlignment alignment;
        int defaultText;
    };
    const Para paras[] = {{"Main", rvaLeft, -1},
                          {"Retweet", rvaLeft, -1},
                          {"Button Retweet", rvaRight, tsButton},
                          {"Button Main", rvaRight, tsButton}};
    ASSERT_EQ(style.ParaStyles.size(), std::size(paras));
    for (size_t i = 0; i < std::size(paras); ++i) {
        const TRVParaStyle& p = style.ParaStyles[i];
        SCOPED_TRACE(paras[i].name);
        EXPECT_EQ(p.StyleName, paras[i].name);
        EXPECT_EQ(p.Alignment, paras[i].alignment);
        EXPECT_EQ(p.DefaultTextStyle, paras[i].defaultText);
        EXPECT_EQ(p.LeftIndent + p.RightIndent, 0);
        EXPECT_EQ(p.LineSpacing, 100);
        EXPECT_FALSE(p.Background.isValid());
    }
}

TEST(CustomViewer, InsertPictureWithoutAnAddressAddsNothing) {
    TRVDocument cell;
    InsertPicture(cell, "", "large", 0, rvvaBaseline);
    EXPECT_EQ(cell.ItemCount(), 0);
}

// A frame that remembers the node it was made with.
class TProbeFrame : public TCustomViewerFrame {
public:
    TProbeFrame(QWidget* owner, const TNode* node) : TCustomViewerFrame(owner, node), Node(node) {}
    const TNode* Node;
};

TEST(ViewerFactory, CreatesTheRegisteredClassOfAKindInsideTheSheet) {
    RegisterViewerClass<TProbeFrame>("TStatusViewer");
    UnregisterViewerClass("TCommentViewer");
    QWidget sheet;
    sheet.resize(500, 400);
    TNode node;

    TCustomViewerFrame* frame = CreateViewer(&sheet, vkStatus, &node);
    auto* probe = dynamic_cast<TProbeFrame*>(frame);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->Node, &node);
    EXPECT_EQ(frame->parentWidget(), &sheet);
    sheet.show();
    QApplication::processEvents();
    EXPECT_EQ(frame->geometry(), sheet.rect());

    EXPECT_THROW(CreateViewer(&sheet, vkComment, &node), EConvertError);
    EXPECT_THROW(CreateViewer(&sheet, static_cast<TViewerKind>(3), &node), EConvertError);
    UnregisterViewerClass("TStatusViewer");
    EXPECT_EQ(FindViewerClass("TStatusViewer"), nullptr);
}

} // namespace
} // namespace quillet
