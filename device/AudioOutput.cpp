#include "AudioOutput.h"

#include "FluidApi.h"

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace md {

namespace {

// Output drivers tried in turn; PipeWire desktops serve the PulseAudio one.
constexpr std::array kDrivers{"pulseaudio", "alsa"};

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What the driver's thread calls back into. It outlives the output when a driver has to be
// abandoned: a driver whose thread is stuck in the sound system cannot be deleted without
// waiting for it, so it is handed to a thread of its own to finish, and the link stops
// reaching the source.
struct DriverLink {
    std::mutex lock;
    AudioSource* source = nullptr;   // null once abandoned
    std::atomic<int64_t> lastCallbackMs{0};
};

int driverCallback(void* data, int len, int /*nfx*/, float** /*fx*/, int nout, float** out)
{
    auto* link = static_cast<DriverLink*>(data);
    link->lastCallbackMs.store(nowMs(), std::memory_order_relaxed);
    std::lock_guard guard(link->lock);
    if (link->source && nout >= 2)
        link->source->pull(out[0], out[1], len);
    return FLUID_OK;
}

// One of FluidSynth's own drivers, running from creation to deletion.
class FluidDriverOutput final : public AudioOutput {
public:
    FluidDriverOutput(fluid_audio_driver_t* driver, DriverLink* link, int stallMs)
        : m_driver(driver), m_link(link), m_stallMs(stallMs)
    {
    }

    ~FluidDriverOutput() override
    {
        {
            std::lock_guard guard(m_link->lock);
            m_link->source = nullptr;
        }
        auto finish = [driver = m_driver, link = m_link] {
            fl().delete_fluid_audio_driver(driver);
            delete link;
        };
        if (stalled())
            std::thread(finish).detach();
        else
            finish();
    }

    std::string lost() const override
    {
        return stalled() ? "the audio output stopped working (was the device removed?)" : "";
    }

private:
    bool stalled() const
    {
        return m_stallMs > 0
            && nowMs() - m_link->lastCallbackMs.load(std::memory_order_relaxed) > m_stallMs;
    }

    fluid_audio_driver_t* m_driver;
    DriverLink* m_link;
    int m_stallMs;
};

} // namespace

std::unique_ptr<AudioOutput> openSystemOutput(AudioSource& source, fluid_settings_t* settings,
                                              int stallMs, std::string& error)
{
    fl().fluid_settings_setint(settings, "audio.period-size", 128);
    fl().fluid_settings_setint(settings, "audio.periods", 3);
    auto* link = new DriverLink;
    link->source = &source;
    link->lastCallbackMs = nowMs();
    for (const char* name : kDrivers) {
        fl().fluid_settings_setstr(settings, "audio.driver", name);
        if (fluid_audio_driver_t* driver = fl().new_fluid_audio_driver2(settings, &driverCallback, link))
            return std::make_unique<FluidDriverOutput>(driver, link, stallMs);
    }
    delete link;
    error = "no audio output device could be opened (tried PulseAudio and ALSA)";
    return nullptr;
}

} // namespace md
