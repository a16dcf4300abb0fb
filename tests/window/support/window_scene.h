// What a window under test has around it: its message boxes answered by a script, and
// today fixed at 2026-12-08, the date of the test data's documents. A fixture holds it
// (as a member or a base) before any window it makes, so that it outlives them.
#pragma once

#include <memory>
#include <string>

#include "qadj/platform/clock.h"
#include "qadj/platform/text.h"
#include "qadj/widgets/message_box.h"

namespace qadj::testing {

struct WindowScene {
  std::shared_ptr<ScriptedMessageBoxService> boxes = std::make_shared<ScriptedMessageBoxService>();
  ScopedMessageBoxService boxScope{boxes};
  ScopedFakeToday fakeToday{Date{2026, 12, 8}};

  // The text of the last box shown, in UTF-8; "" when none was.
  std::string lastBox() const {
    return boxes->calls().empty() ? "" : text::gbkToUtf8Lossy(boxes->calls().back().text);
  }
};

}  // namespace qadj::testing
