#pragma once
// The wizard's words for the engine's events: the status line's text and the
// message box's text of each step, as the pages have always shown them.

#include <string>

#include "carve/SignatureRecord.h"
#include "core/Event.h"

namespace tarnwell {

// The status line's text; empty when the step leaves the status line as it is.
std::string StatusText(const Event& event);
// A message box's text (a question's too).
std::string MessageText(const Event& event);
// What the signature box says after a Save into path.
std::string AppendText(AppendResult result, const std::string& path);

}  // namespace tarnwell
