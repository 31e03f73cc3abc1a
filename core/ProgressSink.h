#pragma once
// Progress of long work: a range, a position within it and the steps of the
// work as events. Pages word them on the GUI thread; the CLI draws a bar.

#include <cstdint>

#include "core/Event.h"

namespace tarnwell {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetRange(std::int64_t lower, std::int64_t upper) = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    virtual void Report(const Event& event) = 0;
};

class NullProgress final : public ProgressSink {
public:
    void SetRange(std::int64_t, std::int64_t) override {}
    void SetPosition(std::int64_t) override {}
    void Report(const Event&) override {}
};

ProgressSink& NoProgress();

}  // namespace tarnwell
