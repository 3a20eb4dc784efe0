#pragma once

class QAction;
class QWidget;

namespace md {
struct PlayerControls;
}

namespace mpris {

// Offers the window on the session bus as org.mpris.MediaPlayer2.mellowdeck (or, when
// another Mellowdeck holds that name, .mellowdeck.instance<pid>) at /org/mpris/MediaPlayer2,
// so that media keys, the desktop's media controls and playerctl can drive it. Every call
// from the bus runs on the window's thread through the handlers its own controls run;
// `exit` is File > Exit. Without a session bus nothing is offered and nothing is said.
// What is offered goes away with the window.
bool offer(md::PlayerControls& controls, QWidget& window, QAction& exit);

} // namespace mpris
