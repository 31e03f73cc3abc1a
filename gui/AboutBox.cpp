#include "gui/AboutBox.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/Artwork.h"
#include "gui/QtPrompter.h"
#include "gui/WizardApp.h"
#include "scan/ScanSession.h"

namespace tarnwell {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutBox");
    setWindowTitle(kProductCaption);
    setWindowIcon(art::AppIcon());
    auto* layout = new QVBoxLayout(this);
    auto* banner = new QLabel;
    banner->setPixmap(art::Banner(380, 56, "Read-only file recovery"));
    layout->addWidget(banner);
    auto* title = new QLabel(kProductCaption);
    title->setObjectName("aboutTitle");
    QFont f("Arial");
    f.setPixelSize(15);
    f.setWeight(QFont::DemiBold);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto* links = new QHBoxLayout;
    struct Link {
        const char* tip;
        QString url;
    };
    for (const Link& l : {Link{"Company website", kProductWebPage}, Link{"Support email address", kSupportMail},
                          Link{"Sales email address", kSalesMail}}) {
        auto* b = new QToolButton;
        b->setIcon(art::ButtonIcon(art::Glyph::Info));
        b->setToolTip(l.tip);
        b->setEnabled(!l.url.isEmpty());
        connect(b, &QToolButton::clicked, this, [url = l.url] { QDesktopServices::openUrl(QUrl(url)); });
        links->addWidget(b);
    }
    layout->addLayout(links);
    auto* ok = new QPushButton("OK");
    ok->setObjectName("ok");
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignCenter);
}

void AboutBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

void AboutBox::mousePressEvent(QMouseEvent* event) {
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void AboutBox::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
}

}  // namespace tarnwell
