#pragma once

#include "Device.h"

#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

// A sequencer device that plays nothing: it logs every command, in order, into a log that
// outlives it, follows the real device's mode rules and fails on request.
class FakeDevice final : public md::Device {
public:
    using Log = QStringList;
    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::set<std::string> failing;   // commands ("open", "play"...) that fail
    md::Mode currentMode = md::Mode::NotOpen;
    std::optional<md::Mode> heard;   // what heardMode() says until the next command, if not the mode
    int64_t position = 0, length = 10000;
    std::string output;              // what outputError() says
    // Called with each log entry as it is made, to note the state of the control then.
    std::function<void(QString&)> onCommand;

    bool open(const std::string& path) override { return act("open " + path, md::Mode::Stopped, 0); }
    bool close() override { return act("close", md::Mode::NotOpen, position); }
    bool play() override { return act("play", md::Mode::Playing, position); }
    bool stop() override { return act("stop", md::Mode::Stopped, position); }
    bool pause() override { return act("pause", md::Mode::Paused, position); }
    bool prev() override { return act("prev", currentMode == md::Mode::Playing ? md::Mode::Stopped : currentMode, 0); }
    bool next() override { return act("next", md::Mode::Stopped, length); }
    bool seek(int64_t ms) override { return act("seek " + std::to_string(ms), md::Mode::Stopped, std::clamp<int64_t>(ms, 0, length)); }
    md::Mode mode() const override { return currentMode; }
    md::Mode heardMode() const override { return heard.value_or(currentMode); }
    int64_t positionMs() const override { return position; }
    int64_t lengthMs() const override { return length; }
    std::string errorMessage() const override { return m_error; }
    std::string outputError() const override { return output; }

private:
    bool act(const std::string& entry, md::Mode next, int64_t at)
    {
        log->push_back(QString::fromStdString(entry));
        heard.reset();
        if (onCommand)
            onCommand(log->back());
        const std::string name = entry.substr(0, entry.find(' '));
        if (failing.count(name) || (currentMode == md::Mode::NotOpen && name != "open" && name != "close")) {
            m_error = failing.count(name) ? "scripted failure" : "no device open";
            if (name == "open")
                currentMode = md::Mode::NotOpen;
            return false;
        }
        currentMode = next;
        position = at;
        return true;
    }
    std::string m_error;
};
