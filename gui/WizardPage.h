#pragma once
// What every wizard page shares: the banner, the "Help" menu button, Back and
// Next, and its place in the page chain. Pages only choose, show and report;
// the work is the engine's.

#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

#include "gui/PageKind.h"

namespace tarnwell {

class WizardApp;
struct ScanSession;
class QtPrompter;

class WizardPage : public QWidget {
    Q_OBJECT
public:
    WizardPage(WizardApp& app, PageKind kind, const QString& subtitle);

    PageKind Kind() const { return kind_; }
    // Set by the page that opened this one, before it is shown.
    PageKind parentPageKind = PageKind::DriveSelection;
    WizardPage* ParentPage() const { return parentPage_; }
    void SetParentPage(WizardPage* parent) { parentPage_ = parent; }

    QPushButton* NextButton() const { return next_; }
    QPushButton* BackButton() const { return back_; }

    // Called when the close box is pressed and the user said Yes: stop own work.
    virtual void OnExit() {}

protected:
    virtual void OnNext() {}
    virtual void OnBack();
    // The page's own controls go here.
    QVBoxLayout* Body() const { return body_; }
    // Buttons placed beside Back and Next.
    QHBoxLayout* ButtonRow() const { return buttons_; }

    WizardApp& app_;
    ScanSession& Session() const;
    QtPrompter& Prompt() const;

private:
    PageKind kind_;
    WizardPage* parentPage_ = nullptr;
    QVBoxLayout* body_;
    QHBoxLayout* buttons_;
    QToolButton* help_;
    QPushButton* back_;
    QPushButton* next_;
};

}  // namespace tarnwell
