#include "views/CustomView.h"

#include "net/web_connect.h"
#include "platform/Graphic.h"

#include <QVBoxLayout>

namespace quillet {

TRVStyle BaseViewerStyle() {
    TRVStyle style;
    const auto text = [](const char* name, const char* font, int size) {
        TRVTextStyle s;
        s.StyleName = QString::fromUtf8(name);
        s.FontName = QString::fromUtf8(font);
        s.Size = size;
        return s;
    };
    TRVTextStyle header = text("Header", "Segoe UI", 15);
    header.Jump = true;
    header.HoverColor = Qt::blue;
    TRVTextStyle link = text("Link", "Arial", 10);
    link.Color = ColorFromNumber(16744448);
    link.Jump = true;
    link.UnderlineColor = ColorFromNumber(16744448);
    link.UnderlineOnHover = true;
    TRVTextStyle button = text("Button", "Arial", 8);
    button.Color = ColorFromNumber(10485760);
    button.Jump = true;
    button.HoverColor = Qt::cyan;
    button.HoverBackColor = QPalette().color(QPalette::Button);
    button.CharSpacing = 1;
    TRVTextStyle emotion = text("emotion", "Arial", 10);
    emotion.Unicode = false;
    style.TextStyles = {header,  text("text", "Arial", 10),        link, button,
                        emotion, text("Button Sep", "Segoe UI", 8)};

    const auto para = [](const char* name, TRVAlignment alignment, int defaultText) {
        TRVParaStyle p;
        p.StyleName = QString::fromUtf8(name);
        p.Alignment = alignment;
        p.DefaultTextStyle = defaultText;
        return p;
    };
    style.ParaStyles = {para("Main", rvaLeft, -1), para("Retweet", rvaLeft, -1),
                        para("Button Retweet", rvaRight, tsButton),
                        para("Button Main", rvaRight, tsButton)};
    return style;
}

TCustomViewer::TCustomViewer(QWidget* owner)
    : QWidget(owner), reText(new TRichView(this)), RVStyle(BaseViewerStyle()) {
    resize(320, 240);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(reText);
    reText->SetStyle(&RVStyle);
}

TCustomViewer::~TCustomViewer() = default;

void TCustomViewer::ApplyStyle() {
    reText->SetStyle(&RVStyle);
}

void TCustomViewer::AddContext(const TCustomContext& context) {
    std::unique_ptr<TCustomContext> copy = ContextClass();
    copy->Assign(context);
    Contexts.push_back(std::move(copy));
    if (!Table)
        ResetDocument();
    RenderContext(static_cast<int>(Contexts.size()) - 1, *Contexts.back());
    reText->Reformat();
}

void TCustomViewer::ClearContexts() {
    while (!Contexts.empty())
        Contexts.pop_back();
    reText->Clear();
    Table = nullptr;
}

void TCustomViewer::ResetDocument() {
    reText->Clear();
    CreateTable();
    reText->Format();
}

void TCustomViewer::CreateTable() {
    auto table = std::make_unique<TRVTableItem>(1);
    table->CellPadding = 0;
    table->CellBorderWidth = 0;
    table->CellHPadding = 0;
    table->CellVPadding = 0;
    table->CellVSpacing = 0;
    table->CellHSpacing = 0;
    Table = reText->Document().AddTable(QStringLiteral("TABLE"), std::move(table));
    reText->Format();
}

void TCustomViewer::RenderContext(int index, TCustomContext&) {
    Table->InsertRows(index, 1);
}

void InsertPicture(TRVDocument& cell, const std::string& url, const std::string& tagValue,
                   int paraNo, TRVVAlign vAlign) {
    if (url.empty())
        return;
    std::unique_ptr<TGraphic> picture = DownloadPicture(url);
    if (!picture)
        return;
    cell.AddHotPicture(QStringLiteral("image"), std::move(picture), paraNo, vAlign,
                       JoinKey("image", tagValue));
}

} // namespace quillet
