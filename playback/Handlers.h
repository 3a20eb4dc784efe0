#pragma once

#include "PlayerControls.h"

namespace md {

// Milliseconds between status polls while playback is armed.
inline constexpr int kPollMs = 55;

// File > Open: asks for a file and loads it on the multimedia control.
void mnuFileOpen_Click(PlayerControls& c);

// The Start and Stop buttons take the same paths as the control's own Play and Stop.
void btnStart_Click(PlayerControls& c);
void btnStop_Click(PlayerControls& c);

// The control's own Play and Stop buttons, raised before the control acts. `cancel` is
// left as it is, so the control goes on to act.
void MMControl1_PlayClick(PlayerControls& c, int& cancel);
void MMControl1_StopClick(PlayerControls& c, int& cancel);

// The playback poll: starts the piece from its beginning, once or, with "Loop Sounds"
// checked, again each time it has stopped.
void MMControl1_StatusUpdate(PlayerControls& c);

// The control's sound output was lost, or came back: the file name box says so.
void MMControl1_OutputChanged(PlayerControls& c);

// A file dropped on the window: a SoundFont becomes the one the run plays with; anything
// else is refused, and shown as a file that cannot be opened is.
void frmMidiPlayer_DragDrop(PlayerControls& c, const QString& path);

} // namespace md
