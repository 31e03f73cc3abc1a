#include "core/ProgressSink.h"
#include "core/Prompter.h"

namespace tarnwell {

Prompter& DefaultPrompter() {
    static SilentPrompter prompter;
    return prompter;
}

ProgressSink& NoProgress() {
    static NullProgress sink;
    return sink;
}

}  // namespace tarnwell
