#include "gui/WizardPage.h"

#include <QLabel>
#include <QMenu>

#include "gui/AboutBox.h"
#include "gui/Artwork.h"
#include "gui/WizardApp.h"

namespace tarnwell {

WizardPage::WizardPage(WizardApp& app, PageKind kind, const QString& subtitle) : app_(app), kind_(kind) {
    setObjectName(QString("page%1").arg(static_cast<int>(kind)));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* banner = new QLabel;
    banner->setObjectName("banner");
    banner->setPixmap(art::Banner(780, 64, subtitle));
    banner->setFixedHeight(64);
    banner->setMinimumWidth(200);
    banner->setScaledContents(true);
    outer->addWidget(banner);

    auto* content = new QWidget;
    body_ = new QVBoxLayout(content);
    body_->setContentsMargins(14, 10, 14, 6);
    outer->addWidget(content, 1);

    auto* bar = new QWidget;
    buttons_ = new QHBoxLayout(bar);
    buttons_->setContentsMargins(14, 6, 14, 10);
    help_ = new QToolButton;
    help_->setObjectName("help");
    help_->setText("Help");
    help_->setIcon(art::ButtonIcon(art::Glyph::Help));
    help_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    help_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(help_);
    menu->setObjectName("helpMenu");
    connect(menu->addAction("Help"), &QAction::triggered, this, [this] { app_.OpenProductWebPage(); });
    connect(menu->addAction("About"), &QAction::triggered, this, [this] {
        AboutBox about(this);
        about.exec();
    });
    connect(menu->addAction("Software Webpage"), &QAction::triggered, this, [this] { app_.OpenProductWebPage(); });
    help_->setMenu(menu);
    buttons_->addWidget(help_);
    buttons_->addStretch(1);
    back_ = new QPushButton(art::ButtonIcon(art::Glyph::Back), "Back");
    back_->setObjectName("back");
    next_ = new QPushButton("Next");
    next_->setObjectName("next");
    next_->setIcon(art::ButtonIcon(art::Glyph::Next));
    next_->setLayoutDirection(Qt::RightToLeft);  // the arrow after the word
    for (auto* b : {back_, next_}) {
        b->setAutoDefault(false);
        b->setMinimumWidth(92);
    }
    buttons_->addWidget(back_);
    buttons_->addWidget(next_);
    outer->addWidget(bar);

    connect(back_, &QPushButton::clicked, this, [this] { OnBack(); });
    connect(next_, &QPushButton::clicked, this, [this] { OnNext(); });
}

void WizardPage::OnBack() { app_.Back(this); }

ScanSession& WizardPage::Session() const { return app_.session; }
QtPrompter& WizardPage::Prompt() const { return app_.Prompt(); }

}  // namespace tarnwell
