#pragma once

#include <QDialog>

class QLabel;
class QScrollArea;

namespace quillet {

class TGraphic;

// A modal dialog showing one picture unscaled; its client area is the picture's size.
class TLargeImageForm : public QDialog {
    Q_OBJECT
public:
    explicit TLargeImageForm(QWidget* parent = nullptr);

    // Shows a copy of Picture and fits the client area to it; a picture larger than the screen
    // scrolls inside a client area as large as the screen allows.
    void SetPicture(const TGraphic& picture);

    QLabel* Image;

private:
    QScrollArea* m_scroller;
};

} // namespace quillet
