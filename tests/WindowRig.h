#pragma once

// The real player window over a real FluidSynth device rendered offline: the test pulls the
// audio (time passes only as it renders), fires the status poll itself when it is armed,
// and answers the Open dialog with a chooser.

#include "Assets.h"
#include "CommonDialog.h"
#include "Handlers.h"
#include "MultimediaControl.h"
#include "SynthDevice.h"
#include "frmMidiPlayer.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <unistd.h>

#include <array>
#include <cmath>
#include <functional>
#include <optional>

namespace test {

constexpr double kRate = 44100.0;
constexpr int kBlock = 64;
// The status poll, in whole blocks: 38 x 64 frames = 55.1 ms.
constexpr int kPollFrames = 38 * kBlock;
// Longest a released voice may ring after Stop, however slow the SoundFont's release.
constexpr int64_t kReleaseLimitFrames = int64_t(12 * kRate);

inline bool validMode(int mode)
{
    return mode == int(md::Mode::NotOpen) || mode == int(md::Mode::Stopped) ||
           mode == int(md::Mode::Playing) || mode == int(md::Mode::Paused) || mode == int(md::Mode::Open);
}

inline md::SynthOptions offlineOptions()
{
    md::SynthOptions o;
    o.realtime = false;
    o.sampleRate = kRate;
    // The small font loads in a moment; otherwise whatever the program would pick.
    if (::access("/usr/share/sounds/sf2/TimGM6mb.sf2", R_OK) == 0)
        o.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    return o;
}

struct WindowRig {
    md::SynthDevice* device = nullptr;
    QPointer<frmMidiPlayer> window;
    md::MultimediaControl* mm = nullptr;
    md::CommonDialog* dialog = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QCheckBox* chkLoopSounds = nullptr;
    QLabel* lblFileName = nullptr;
    QAction* mnuFileOpen = nullptr;

    std::optional<QString> choice;           // what the dialog returns; nothing = Cancel
    std::function<void()> whileDialogOpen;   // runs inside the dialog, before it returns
    int64_t rendered = 0;                    // frames rendered so far: the test's clock
    bool nonFinite = false;                  // a NaN or infinity came out

    explicit WindowRig(md::SynthOptions options = offlineOptions())
    {
        auto dev = std::make_unique<md::SynthDevice>(options);
        device = dev.get();
        window = new frmMidiPlayer(std::move(dev), assets::registerBundledFonts());
        mm = window->findChild<md::MultimediaControl*>(QStringLiteral("MMControl1"));
        dialog = window->findChild<md::CommonDialog*>(QStringLiteral("CMDialog1"));
        btnStart = window->findChild<QPushButton*>(QStringLiteral("btnStart"));
        btnStop = window->findChild<QPushButton*>(QStringLiteral("btnStop"));
        chkLoopSounds = window->findChild<QCheckBox*>(QStringLiteral("chkLoopSounds"));
        lblFileName = window->findChild<QLabel*>(QStringLiteral("lblFileName"));
        mnuFileOpen = window->findChild<QAction*>(QStringLiteral("mnuFileOpen"));
        dialog->setChooser([this](QFileDialog&) {
            if (whileDialogOpen)
                whileDialogOpen();
            return choice;
        });
    }
    ~WindowRig() { delete window.data(); }
    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    bool complete() const
    {
        return mm && dialog && btnStart && btnStop && chkLoopSounds && lblFileName && mnuFileOpen;
    }

    // File > Open, the user picking `path` (or cancelling when it is empty).
    void open(std::optional<QString> path)
    {
        choice = std::move(path);
        mnuFileOpen->trigger();
    }

    // What the poll timer would do when it fires.
    void poll()
    {
        if (mm->updateInterval() > 0)
            emit mm->StatusUpdate();
    }

    // Renders `frames` frames; returns the peak.
    float render(int64_t frames)
    {
        std::array<float, kBlock> l{}, r{};
        float peak = 0;
        for (int64_t done = 0; done < frames; done += kBlock) {
            const int n = int(std::min<int64_t>(kBlock, frames - done));
            device->render(l.data(), r.data(), n);
            for (int i = 0; i < n; ++i) {
                const float a = l[std::size_t(i)], b = r[std::size_t(i)];
                if (!std::isfinite(a) || !std::isfinite(b))
                    nonFinite = true;
                peak = std::max({peak, std::abs(a), std::abs(b)});
            }
        }
        rendered += frames;
        return peak;
    }

    // Renders until no voice sounds; false when one still does after the release limit.
    bool renderUntilSilent()
    {
        for (int64_t waited = 0; device->activeVoices() > 0; waited += 1024) {
            if (waited > kReleaseLimitFrames)
                return false;
            render(1024);
        }
        return true;
    }

    // Renders `frames` frames with the poll firing every 55 ms of audio, as the timer would.
    float play(int64_t frames)
    {
        float peak = 0;
        for (int64_t done = 0; done < frames; done += kBlock) {
            if (rendered % kPollFrames == 0)
                poll();
            peak = std::max(peak, render(kBlock));
        }
        return peak;
    }
};

} // namespace test
