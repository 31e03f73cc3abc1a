#pragma once
// The pages' Prompter: message boxes captioned "Tarnwell v21.04", always shown
// on the GUI thread, in the wizard's words for the engine's events
// (gui/EventText) or with a page's own text. A worker's question waits for the
// answer; Shutdown() releases any worker still waiting so a page can be torn
// down safely. Tests hand in an answerer (RecordingAnswers) that is given each
// box's text on the GUI thread instead of a box being shown.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/Prompter.h"

namespace tarnwell {
// The caption of every window and message box.
inline constexpr const char* kProductCaption = "Tarnwell v21.04";

// What answers the boxes in place of the user.
class Answerer {
public:
    virtual ~Answerer() = default;
    virtual void Inform(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& question) = 0;
};

// Keeps every box's text; answers questions from a queue (then a default).
class RecordingAnswers final : public Answerer {
public:
    void Inform(const std::string& text) override { informed.push_back(text); }
    bool AskYesNo(const std::string& question) override {
        asked.push_back(question);
        if (answers.empty()) return defaultAnswer;
        bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    }

    std::vector<std::string> informed;
    std::vector<std::string> asked;
    std::vector<bool> answers;
    bool defaultAnswer = true;
};

class QtPrompter final : public QObject, public Prompter {
    Q_OBJECT
public:
    explicit QtPrompter(Answerer* answerer = nullptr, QObject* parent = nullptr);

    void Inform(const Event& event) override;
    bool AskYesNo(const Event& question) override;
    // A page's own texts.
    void Inform(const std::string& text);
    bool AskYesNo(const std::string& question);
    void Inform(const char* text) { Inform(std::string(text)); }
    bool AskYesNo(const char* question) { return AskYesNo(std::string(question)); }

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

    Answerer* answerer_;
    QPointer<QWidget> owner_;
    std::atomic<bool> shutdown_{false};
    std::mutex mutex_;
    std::condition_variable answered_;
};

}  // namespace tarnwell
