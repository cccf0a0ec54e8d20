#include "app/qt/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/WindowTexts.h"
#include "app/qt/AppIcon.h"
#include "app/qt/DialogFont.h"

namespace qdx::app {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("aboutBox");
    setWindowTitle(QString::fromUtf8(texts::kAboutTitle));
    const QFont font = DialogFont();
    setFont(font);
    const DialogBaseUnits base = BaseUnitsOf(font);
    setFixedSize(PixelRect(AboutTemplate::kClient, base).size());

    auto* icon = new QLabel(this);
    icon->setObjectName("aboutIcon");
    icon->setGeometry(PixelRect(AboutTemplate::kIcon, base));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* version = new QLabel(QString::fromUtf8(texts::kAboutVersion), this);
    version->setObjectName("aboutVersion");
    version->setTextFormat(Qt::PlainText);  // no mnemonic or markup processing
    version->setGeometry(PixelRect(AboutTemplate::kVersion, base));

    auto* ok = new QPushButton(QString::fromUtf8(texts::kOk), this);
    ok->setObjectName("aboutOk");
    ok->setGeometry(PixelRect(AboutTemplate::kOk, base));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::showEvent(QShowEvent* event) {
    // Centred on the owner, or on the screen without one.
    const QRect area =
        parentWidget() != nullptr ? parentWidget()->frameGeometry() : screen()->availableGeometry();
    move(area.center() - rect().center());
    QDialog::showEvent(event);
}

}  // namespace qdx::app
