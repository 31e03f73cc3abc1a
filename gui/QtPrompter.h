#pragma once
// The pages' Prompter: message boxes captioned "Tarnwell v21.04", always shown
// on the GUI thread. A worker's question waits for the answer; Shutdown()
// releases any worker still waiting so a page can be torn down safely.
// Tests hand in an answerer (a RecordingPrompter) that is asked on the GUI
// thread instead of a box being shown.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "core/Prompter.h"

namespace tarnwell {
// The caption of every window and message box.
inline constexpr const char* kProductCaption = "Tarnwell v21.04";
}  // namespace tarnwell

namespace tarnwell {

class QtPrompter final : public QObject, public Prompter {
    Q_OBJECT
public:
    explicit QtPrompter(Prompter* answerer = nullptr, QObject* parent = nullptr);

    void Inform(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;

    // Boxes are owned by this window (the page in front).
    void SetOwner(QWidget* owner) { owner_ = owner; }
    // From now on workers get "No" and are not shown anything.
    void Shutdown();

signals:
    // Every text shown or asked, on the GUI thread, in order.
    void informed(const QString& text);

private:
    void InformNow(const std::string& text);
    bool AskNow(const std::string& question);

    Prompter* answerer_;
    QPointer<QWidget> owner_;
    std::atomic<bool> shutdown_{false};
    std::mutex mutex_;
    std::condition_variable answered_;
};

}  // namespace tarnwell
