#pragma once

#include "Device.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A sequencer device that plays nothing: it records every command, in order, into a log
// that outlives it, follows the mode rules of the real device and fails on request.
class FakeDevice final : public md::Device {
public:
    using Log = std::vector<std::string>;

    explicit FakeDevice(std::shared_ptr<Log> log = std::make_shared<Log>()) : m_log(std::move(log)) {}

    // Scripting.
    std::set<std::string> failing;   // command names ("open", "play"...) that fail
    std::string failMessage = "scripted failure";
    md::Mode currentMode = md::Mode::NotOpen;
    int64_t position = 0;
    int64_t length = 10000;
    // Called with each command's log entry before it is carried out, so a test can note
    // the state of the control at that moment.
    std::function<void(const std::string&)> onCommand;

    std::shared_ptr<Log> log() const { return m_log; }

    bool open(const std::string& path) override
    {
        if (!record("open " + path))
            return refuse(md::Mode::NotOpen);
        currentMode = md::Mode::Stopped;
        position = 0;
        return true;
    }
    bool close() override { return change("close", md::Mode::NotOpen); }
    bool play() override { return change("play", md::Mode::Playing); }
    bool stop() override { return change("stop", md::Mode::Stopped); }
    bool pause() override { return change("pause", md::Mode::Paused); }
    bool prev() override
    {
        const bool ok = change("prev", currentMode == md::Mode::Playing ? md::Mode::Stopped : currentMode);
        if (ok)
            position = 0;
        return ok;
    }
    bool next() override
    {
        const bool ok = change("next", md::Mode::Stopped);
        if (ok)
            position = length;
        return ok;
    }
    bool seek(int64_t ms) override
    {
        const bool ok = change("seek " + std::to_string(ms), md::Mode::Stopped);
        if (ok)
            position = std::clamp<int64_t>(ms, 0, length);
        return ok;
    }

    md::Mode mode() const override { return currentMode; }
    int64_t positionMs() const override { return position; }
    int64_t lengthMs() const override { return length; }
    std::string errorMessage() const override { return m_error; }

private:
    bool record(const std::string& entry)
    {
        m_log->push_back(entry);
        if (onCommand)
            onCommand(entry);
        const std::string name = entry.substr(0, entry.find(' '));
        if (failing.count(name)) {
            m_error = failMessage;
            return false;
        }
        return true;
    }
    bool refuse(md::Mode mode)
    {
        currentMode = mode;
        return false;
    }
    // Like the real device, every command but open needs an open device.
    bool change(const std::string& entry, md::Mode next)
    {
        if (!record(entry))
            return false;
        if (currentMode == md::Mode::NotOpen && entry != "close") {
            m_error = "no device open";
            return false;
        }
        currentMode = next;
        return true;
    }

    std::shared_ptr<Log> m_log;
    std::string m_error;
};
