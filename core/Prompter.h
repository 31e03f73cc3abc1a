#pragma once
// How the engine tells the user something or asks a question. The GUI shows
// message boxes captioned with the product name, the CLI prints, tests answer
// from a script.

#include <string>
#include <vector>

namespace tarnwell {

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void Inform(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& question) = 0;
};

// Says nothing and answers every question with a fixed answer.
class SilentPrompter final : public Prompter {
public:
    explicit SilentPrompter(bool answer = true) : answer_(answer) {}
    void Inform(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return answer_; }

private:
    bool answer_;
};

// Keeps every text it was given; answers questions from a queue (then a default).
class RecordingPrompter final : public Prompter {
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

// The prompter used where a caller gave none.
Prompter& DefaultPrompter();

}  // namespace tarnwell
