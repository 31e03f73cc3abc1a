#pragma once
// The pages' ProgressSink. Workers may call it from any thread; updates are
// gathered and delivered on the GUI thread as signals, the latest value of
// each winning, so a fast worker never floods the event queue. The engine's
// events reach the status line in the wizard's words (gui/EventText).

#include <QObject>
#include <QString>

#include <cstdint>
#include <mutex>
#include <string>

#include "core/ProgressSink.h"

namespace tarnwell {

class QtProgress final : public QObject, public ProgressSink {
    Q_OBJECT
public:
    explicit QtProgress(QObject* parent = nullptr) : QObject(parent) {}

    void SetRange(std::int64_t lower, std::int64_t upper) override;
    void SetPosition(std::int64_t position) override;
    void Report(const Event& event) override;
    // A page's own status line text.
    void SetStatus(const std::string& text);

signals:
    void rangeChanged(int lower, int upper);
    void positionChanged(int position);
    void statusChanged(const QString& text);

private:
    bool OnGuiThread() const;
    void Post();
    void Flush();

    std::mutex mutex_;
    bool posted_ = false;
    bool hasRange_ = false, hasPosition_ = false, hasStatus_ = false;
    std::int64_t lower_ = 0, upper_ = 0, position_ = 0;
    std::string status_;
};

}  // namespace tarnwell
