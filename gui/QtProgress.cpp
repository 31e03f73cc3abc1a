#include "gui/QtProgress.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <climits>

#include "gui/EventText.h"

namespace tarnwell {

namespace {
// Progress bars hold ints; bigger counts are scaled by the caller's range anyway.
int Clamp(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }
}  // namespace

bool QtProgress::OnGuiThread() const {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// On the GUI thread an update shows at once, after anything a worker left pending.
void QtProgress::SetRange(std::int64_t lower, std::int64_t upper) {
    if (OnGuiThread()) {
        Flush();
        return emit rangeChanged(Clamp(lower), Clamp(upper));
    }
    std::lock_guard lock(mutex_);
    lower_ = lower;
    upper_ = upper;
    hasRange_ = true;
    Post();
}

void QtProgress::SetPosition(std::int64_t position) {
    if (OnGuiThread()) {
        Flush();
        return emit positionChanged(Clamp(position));
    }
    std::lock_guard lock(mutex_);
    position_ = position;
    hasPosition_ = true;
    Post();
}

void QtProgress::Report(const Event& event) {
    std::string text = StatusText(event);
    if (!text.empty()) SetStatus(text);
}

void QtProgress::SetStatus(const std::string& text) {
    if (OnGuiThread()) {
        Flush();
        return emit statusChanged(QString::fromStdString(text));
    }
    std::lock_guard lock(mutex_);
    status_ = text;
    hasStatus_ = true;
    Post();
}

void QtProgress::Post() {
    if (posted_) return;
    posted_ = true;
    QMetaObject::invokeMethod(this, [this] { Flush(); }, Qt::QueuedConnection);
}

void QtProgress::Flush() {
    bool range, position, status;
    std::int64_t lower, upper, pos;
    std::string text;
    {
        std::lock_guard lock(mutex_);
        posted_ = false;
        range = hasRange_, position = hasPosition_, status = hasStatus_;
        hasRange_ = hasPosition_ = hasStatus_ = false;
        lower = lower_, upper = upper_, pos = position_, text = status_;
    }
    if (range) emit rangeChanged(Clamp(lower), Clamp(upper));
    if (position) emit positionChanged(Clamp(pos));
    if (status) emit statusChanged(QString::fromStdString(text));
}

}  // namespace tarnwell
