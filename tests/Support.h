#pragma once

// What the tests share: MIDI files built byte by byte, a folder for them, and the device
// rendered offline with the tests' own SoundFont (pure sines that start and stop at once).

#include "SynthDevice.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace test {

constexpr double kRate = 44100.0;
constexpr int kBlock = 64;   // what the audio thread renders at a time, at least

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

inline QByteArray be32(quint32 v) { return bytes({int(v >> 24), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)}); }

inline QByteArray vlq(quint32 v)
{
    QByteArray out(1, char(v & 0x7F));
    while (v >>= 7)
        out.prepend(char(0x80 | (v & 0x7F)));
    return out;
}

// One event `delta` ticks after the one before.
inline QByteArray ev(quint32 delta, std::initializer_list<int> message) { return vlq(delta) + bytes(message); }
inline QByteArray noteOn(quint32 delta, int ch, int key) { return ev(delta, {0x90 | ch, key, 100}); }
inline QByteArray noteOff(quint32 delta, int ch, int key) { return ev(delta, {0x80 | ch, key, 0}); }
inline QByteArray sysex(quint32 delta, const QByteArray& body)
{
    return vlq(delta) + char(0xF0) + vlq(quint32(body.size() + 1)) + body + char(0xF7);
}

// A track chunk; an End of Track follows the events `endDelta` ticks after the last one.
inline QByteArray track(const QByteArray& events, int endDelta = 0)
{
    const QByteArray body = events + (endDelta < 0 ? QByteArray() : ev(quint32(endDelta), {0xFF, 0x2F, 0}));
    return "MTrk" + be32(quint32(body.size())) + body;
}

inline QByteArray smf(int format, int division, std::initializer_list<QByteArray> tracks)
{
    QByteArray out = "MThd" + be32(6) + bytes({0, format, 0, int(tracks.size()), division >> 8, division & 0xFF});
    for (const QByteArray& t : tracks)
        out += t;
    return out;
}

// A folder removed with the test, for the files it writes.
struct Files {
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& content) const
    {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
        return f.fileName();
    }
};

inline md::SynthOptions offline(const std::string& soundFont = MELLOWDECK_TEST_SOUNDFONT)
{
    md::SynthOptions o;
    o.soundFont = soundFont, o.realtime = false, o.sampleRate = kRate;
    return o;
}

// Renders `frames` frames in blocks; returns the left channel.
inline std::vector<float> render(md::SynthDevice& device, int64_t frames)
{
    std::vector<float> out(static_cast<std::size_t>(frames)), right(kBlock);
    for (int64_t done = 0; done < frames; done += kBlock)
        device.render(out.data() + done, right.data(), static_cast<int>(std::min<int64_t>(kBlock, frames - done)));
    return out;
}

inline float peak(const std::vector<float>& s, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    float p = 0;
    for (std::size_t i = from; i < std::min(to, s.size()); ++i)
        p = std::max(p, std::abs(s[i]));
    return p;
}

// Hz of the tone in [from, to) seconds, the mean from its upward zero crossings (0: silence).
inline double pitch(const std::vector<float>& x, double from, double to)
{
    std::vector<double> t;
    for (auto i = static_cast<std::size_t>(from * kRate) + 1; i < std::min(x.size(), std::size_t(to * kRate)); ++i)
        if (x[i - 1] < 0 && x[i] >= 0)
            t.push_back((static_cast<double>(i) - 1 + x[i - 1] / (x[i - 1] - x[i])) / kRate);
    return t.size() < 3 ? 0.0 : static_cast<double>(t.size() - 1) / (t.back() - t.front());
}

} // namespace test
