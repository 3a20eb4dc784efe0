#pragma once

#include "CommonDialog.h"
#include "MultimediaControl.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace md {

// The controls of the player window that the event handlers read and write. The handlers
// keep nothing of their own: everything they need to remember lives in these controls.
struct PlayerControls {
    MultimediaControl& MMControl1;
    CommonDialog& CMDialog1;
    QPushButton& btnStart;
    QPushButton& btnStop;
    QCheckBox& chkLoopSounds;
    QLabel& lblFileName;
};

} // namespace md
