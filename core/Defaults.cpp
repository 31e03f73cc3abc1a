#include <cstdio>

#include "core/ProgressSink.h"
#include "core/Prompter.h"

namespace tarnwell {

namespace {
// Without a front end, messages still reach the user on stderr.
class StderrPrompter final : public Prompter {
public:
    void Inform(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    bool AskYesNo(const std::string& question) override {
        std::fprintf(stderr, "%s (yes)\n", question.c_str());
        return true;
    }
};
}  // namespace

Prompter& DefaultPrompter() {
    static StderrPrompter prompter;
    return prompter;
}

ProgressSink& NoProgress() {
    static NullProgress sink;
    return sink;
}

}  // namespace tarnwell
