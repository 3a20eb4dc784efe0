#include "Program.h"

#include "Assets.h"
#include "SynthDevice.h"
#include "frmMidiPlayer.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <fontconfig/fontconfig.h>

#include <csignal>
#include <functional>
#include <future>

namespace {

// Calls `then` once, on the turn of the event loop after `window` was first exposed: Qt
// paints and flushes an exposed window while it handles the expose event, so by then the
// window is on the screen.
class AfterFirstShow : public QObject {
public:
    AfterFirstShow(QWindow* window, std::function<void()> then)
        : QObject(window), m_then(std::move(then))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                m_then();
                deleteLater();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_then;
};

std::future<void> g_fontConfiguration;

} // namespace

void beginLaunch()
{
    // Fontconfig parses some fifty XML files and maps its caches the first time any text is
    // laid out; that is several milliseconds the window would otherwise wait for.
    g_fontConfiguration = std::async(std::launch::async, [] { FcInit(); });
}

QPointer<frmMidiPlayer> startPlayer()
{
    // A sound output that goes away must be an error the device reports, not a signal
    // that ends the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication::setApplicationName(QStringLiteral("Mellowdeck"));
    // Lets Wayland desktops match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.mellowdeck.Mellowdeck"));
    if (g_fontConfiguration.valid())
        g_fontConfiguration.get();
    // The captions' face must be known before the window lays out its labels.
    const QString displayFont = assets::registerBundledFonts();

    // The synthesizer and the SoundFont are made ready once the window is up: done while
    // it is being built, they would compete with it for the processor and the loader. An
    // Open that comes sooner starts them itself and waits.
    md::SynthOptions options;
    options.prepareLater = true;
    auto device = std::make_unique<md::SynthDevice>(options);
    md::SynthDevice* synth = device.get();
    QPointer<frmMidiPlayer> window = new frmMidiPlayer(std::move(device), displayFont);
    window->show();
    // Connecting to the session bus for the media keys waits for the same reason.
    new AfterFirstShow(window->windowHandle(), [synth, window] {
        synth->prepare();
        if (window)
            window->offerMediaControls();
    });
    return window;
}
