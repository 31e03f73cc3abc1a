#pragma once
// How the engine tells the user an outcome or asks a question, as events:
// the GUI words them in message boxes, the CLI in its own lines, tests keep
// them and answer from a script.

#include <vector>

#include "core/Event.h"

namespace tarnwell {

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void Inform(const Event& event) = 0;
    virtual bool AskYesNo(const Event& question) = 0;
};

// Says nothing and answers every question with a fixed answer.
class SilentPrompter final : public Prompter {
public:
    explicit SilentPrompter(bool answer = true) : answer_(answer) {}
    void Inform(const Event&) override {}
    bool AskYesNo(const Event&) override { return answer_; }

private:
    bool answer_;
};

// Keeps every event it was given; answers questions from a queue (then a default).
class RecordingPrompter final : public Prompter {
public:
    void Inform(const Event& event) override { informed.push_back(event); }
    bool AskYesNo(const Event& question) override {
        asked.push_back(question);
        if (answers.empty()) return defaultAnswer;
        bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    // How many events of this step were told.
    int Count(Step step) const {
        int n = 0;
        for (const Event& e : informed) n += e.step == step;
        return n;
    }

    std::vector<Event> informed;
    std::vector<Event> asked;
    std::vector<bool> answers;
    bool defaultAnswer = true;
};

// The prompter used where a caller gave none: it says nothing and answers yes.
Prompter& DefaultPrompter();

}  // namespace tarnwell
