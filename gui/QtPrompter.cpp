#include "gui/QtPrompter.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

#include <memory>

#include "gui/EventText.h"
#include "scan/ScanSession.h"

namespace tarnwell {

namespace {
bool OnGuiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }
}  // namespace

QtPrompter::QtPrompter(Answerer* answerer, QObject* parent) : QObject(parent), answerer_(answerer) {}

void QtPrompter::Shutdown() {
    shutdown_ = true;
    std::lock_guard lock(mutex_);
    answered_.notify_all();
}

void QtPrompter::InformNow(const std::string& text) {
    emit informed(QString::fromStdString(text));
    if (answerer_) return answerer_->Inform(text);
    QMessageBox::information(owner_, kProductCaption, QString::fromStdString(text));
}

bool QtPrompter::AskNow(const std::string& question) {
    emit informed(QString::fromStdString(question));
    if (answerer_) return answerer_->AskYesNo(question);
    return QMessageBox::question(owner_, kProductCaption, QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtPrompter::Inform(const Event& event) { Inform(MessageText(event)); }

bool QtPrompter::AskYesNo(const Event& question) { return AskYesNo(MessageText(question)); }

void QtPrompter::Inform(const std::string& text) {
    if (OnGuiThread()) return InformNow(text);
    if (shutdown_) return;
    // A worker does not wait for the box to be closed; texts keep their order.
    QMetaObject::invokeMethod(this, [this, text] { InformNow(text); }, Qt::QueuedConnection);
}

bool QtPrompter::AskYesNo(const std::string& question) {
    if (OnGuiThread()) return AskNow(question);
    struct Reply {
        bool done = false;
        bool yes = false;
    };
    auto reply = std::make_shared<Reply>();
    if (shutdown_) return false;
    QMetaObject::invokeMethod(
        this,
        [this, question, reply] {
            bool yes = shutdown_ ? false : AskNow(question);
            std::lock_guard lock(mutex_);
            reply->yes = yes;
            reply->done = true;
            answered_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return reply->done || shutdown_.load(); });
    return reply->done && reply->yes;
}

}  // namespace tarnwell
