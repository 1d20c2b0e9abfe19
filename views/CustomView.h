#pragma once

#include "core/Global.h"
#include "platform/RichView.h"

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

namespace quillet {

// The class of the contexts a viewer keeps: makes a new, empty instance.
using TContextClass = std::unique_ptr<TCustomContext> (*)();

template <class T>
std::unique_ptr<TCustomContext> NewContext() {
    return std::make_unique<T>();
}

// Text styles of the base style sheet, by number.
enum TBaseTextStyle : int {
    tsHeader = 0,
    tsText = 1,
    tsLink = 2,
    tsButton = 3,
    tsEmotion = 4,
    tsButtonSep = 5,
};

// Paragraph styles of the base style sheet, by number.
enum TBaseParaStyle : int {
    psMain = 0,
    psRetweet = 1,
    psButtonRetweet = 2,
    psButtonMain = 3,
};

// The text and paragraph styles every viewer starts from.
TRVStyle BaseViewerStyle();

// A list viewer: one context per row of a one-column table named "TABLE", whose last row is
// always empty.
class TCustomViewer : public QWidget {
    Q_OBJECT
public:
    explicit TCustomViewer(QWidget* owner = nullptr);
    ~TCustomViewer() override;

    TRichView* reText;
    TRVStyle RVStyle;
    TContextClass ContextClass = nullptr;
    // The viewer's own copies, in row order.
    std::vector<std::unique_ptr<TCustomContext>> Contexts;
    TRVTableItem* Table = nullptr; // owned by the document

    // Keeps a copy of Context (made with ContextClass and Assign) and draws it as the next row.
    void AddContext(const TCustomContext& context);
    // Drops every context and empties the document.
    void ClearContexts();
    void ResetDocument();
    void CreateTable();

    // Call after changing RVStyle, so the view draws with it.
    void ApplyStyle();

protected:
    // The base inserts the row; subclasses then fill Table's cell (Index, 0) from Context.
    virtual void RenderContext(int index, TCustomContext& context);
};

// Appends the picture at URL to Cell as a clickable picture named "image" with the tag
// "image_" + TagValue; appends nothing for an empty URL or when no picture arrives.
void InsertPicture(TRVDocument& cell, const std::string& url, const std::string& tagValue,
                   int paraNo, TRVVAlign vAlign);

} // namespace quillet
