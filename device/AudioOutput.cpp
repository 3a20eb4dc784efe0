#include "AudioOutput.h"

#include "FluidApi.h"
#include "PulseOutput.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>

namespace md {

namespace {

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

// One of FluidSynth's drivers ("alsa", "pulseaudio"), or null.
std::unique_ptr<AudioOutput> openFluidDriver(const char* name, AudioSource& source,
                                             fluid_settings_t* settings, int stallMs)
{
    fl().fluid_settings_setint(settings, "audio.period-size", 128);
    fl().fluid_settings_setint(settings, "audio.periods", 3);
    fl().fluid_settings_setstr(settings, "audio.driver", name);
    auto* link = new DriverLink;
    link->source = &source;
    link->lastCallbackMs = nowMs();
    if (fluid_audio_driver_t* driver = fl().new_fluid_audio_driver2(settings, &driverCallback, link))
        return std::make_unique<FluidDriverOutput>(driver, link, stallMs);
    delete link;
    return nullptr;
}

} // namespace

std::unique_ptr<AudioOutput> openSystemOutput(AudioSource& source, fluid_settings_t* settings,
                                              double sampleRate, int stallMs, std::string& error)
{
    const char* env = std::getenv("MELLOWDECK_AUDIO");
    const std::string_view choice = env ? env : "";
    std::string why;
    if (choice.empty() || choice == "pulse") {
        if (auto output = openPulseOutput(source, sampleRate, why))
            return output;
        if (choice == "pulse") {
            error = "no audio output device could be opened (PulseAudio: " + why + ")";
            return nullptr;
        }
    }
    if (choice.empty() || choice == "alsa" || choice == "fluid-pulseaudio") {
        const char* driver = choice == "fluid-pulseaudio" ? "pulseaudio" : "alsa";
        if (auto output = openFluidDriver(driver, source, settings, stallMs))
            return output;
        if (choice.empty())
            error = "no audio output device could be opened (tried PulseAudio and ALSA)";
        else
            error = "no audio output device could be opened (tried FluidSynth's " + std::string(driver)
                + " driver)";
        return nullptr;
    }
    error = "MELLOWDECK_AUDIO=" + std::string(choice)
        + " names no audio output (use pulse, alsa or fluid-pulseaudio)";
    return nullptr;
}

} // namespace md
