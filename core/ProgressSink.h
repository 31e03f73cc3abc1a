#pragma once
// Progress of long work: a range, a position within it and a status text.
// Pages deliver these to the GUI thread; the CLI draws a bar on a terminal.

#include <cstdint>
#include <string>

namespace tarnwell {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetRange(std::int64_t lower, std::int64_t upper) = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    virtual void SetStatus(const std::string& text) = 0;
};

class NullProgress final : public ProgressSink {
public:
    void SetRange(std::int64_t, std::int64_t) override {}
    void SetPosition(std::int64_t) override {}
    void SetStatus(const std::string&) override {}
};

ProgressSink& NoProgress();

}  // namespace tarnwell
