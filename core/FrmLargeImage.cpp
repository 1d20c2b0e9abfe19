#include "core/FrmLargeImage.h"

#include "platform/Graphic.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>

namespace quillet {

TLargeImageForm::TLargeImageForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      Image(new QLabel), m_scroller(new QScrollArea(this)) {
    setWindowTitle(QStringLiteral("查看大图"));
    setModal(true);
    Image->setScaledContents(false);
    Image->setContentsMargins(0, 0, 0, 0);
    m_scroller->setFrameShape(QFrame::NoFrame);
    m_scroller->setWidget(Image);
    m_scroller->move(0, 0);
    setFixedSize(294, 150);
    m_scroller->resize(size());
}

void TLargeImageForm::SetPicture(const TGraphic& picture) {
    Image->setPixmap(QPixmap::fromImage(picture.Image()));
    Image->resize(picture.Width(), picture.Height());
    QSize client = Image->size();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        client = client.boundedTo(screen->availableGeometry().size() * 9 / 10);
    m_scroller->resize(client);
    setFixedSize(client);
}

} // namespace quillet
