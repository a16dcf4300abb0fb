// The pieces of the Qt message box, exposed for tests: building the box from the
// flags and mapping the chosen button back to a result.
#pragma once

#include <QMessageBox>
#include <memory>
#include <string>

#include "qadj/platform/export.h"
#include "qadj/widgets/owner_window.h"

namespace qadj {

constexpr unsigned MB_DEFBUTTON2 = 0x100;
constexpr unsigned MB_DEFBUTTON3 = 0x200;
constexpr unsigned MB_DEFMASK = 0xF00;

// The standard buttons for the button bits of flags, in Windows order. Unknown
// button bits give OK alone.
QADJ_PLATFORM_API QMessageBox::StandardButtons messageBoxButtons(unsigned flags);
// The icon for the icon bits of flags (none when they are 0 or unknown).
QADJ_PLATFORM_API QMessageBox::Icon messageBoxIcon(unsigned flags);
// The ID* result of a standard button; IDCANCEL for NoButton (box closed without
// a choice).
QADJ_PLATFORM_API int messageBoxResult(QMessageBox::StandardButton button);

// Builds the application-modal box: texts converted from GBK (bad bytes become
// '?'), icon, buttons and default button from flags; parented to a widget owner
// (transient for its window), or made transient for a native owner when it is
// shown. The caller owns the box. Needs a QApplication.
QADJ_PLATFORM_API std::unique_ptr<QMessageBox> buildMessageBox(const OwnerWindow& owner,
                                                               const std::string& gbkText,
                                                               const std::string& gbkCaption,
                                                               unsigned flags);

}  // namespace qadj
