#pragma once

// Builds small Standard MIDI Files in memory for tests.

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace test {

class Track {
public:
    // Appends an event `delta` ticks after the previous one.
    Track& event(uint32_t delta, std::initializer_list<uint8_t> bytes)
    {
        vlq(delta);
        data_.insert(data_.end(), bytes);
        return *this;
    }
    Track& tempo(uint32_t delta, uint32_t usPerQuarter)
    {
        return event(delta, {0xFF, 0x51, 0x03, uint8_t(usPerQuarter >> 16),
                             uint8_t(usPerQuarter >> 8), uint8_t(usPerQuarter)});
    }
    Track& noteOn(uint32_t delta, int ch, int key, int vel = 100)
    {
        return event(delta, {uint8_t(0x90 | ch), uint8_t(key), uint8_t(vel)});
    }
    Track& noteOff(uint32_t delta, int ch, int key) { return event(delta, {uint8_t(0x80 | ch), uint8_t(key), 0}); }
    Track& cc(uint32_t delta, int ch, int controller, int value)
    {
        return event(delta, {uint8_t(0xB0 | ch), uint8_t(controller), uint8_t(value)});
    }
    Track& program(uint32_t delta, int ch, int prog) { return event(delta, {uint8_t(0xC0 | ch), uint8_t(prog)}); }
    Track& bend(uint32_t delta, int ch, int value)
    {
        return event(delta, {uint8_t(0xE0 | ch), uint8_t(value & 0x7F), uint8_t(value >> 7)});
    }
    Track& end(uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0x00}); }

    const std::vector<uint8_t>& bytes() const { return data_; }

private:
    void vlq(uint32_t v)
    {
        uint8_t buf[5];
        int n = 0;
        buf[n++] = v & 0x7F;
        while (v >>= 7)
            buf[n++] = uint8_t(0x80 | (v & 0x7F));
        while (n)
            data_.push_back(buf[--n]);
    }
    std::vector<uint8_t> data_;
};

inline void put32(QByteArray& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((v >> shift) & 0xFF));
}

inline QByteArray smf(int format, uint16_t division, std::initializer_list<Track> tracks)
{
    QByteArray out("MThd");
    put32(out, 6);
    out.append(char(0)).append(char(format));
    out.append(char(tracks.size() >> 8)).append(char(tracks.size() & 0xFF));
    out.append(char(division >> 8)).append(char(division & 0xFF));
    for (const Track& t : tracks) {
        out.append("MTrk");
        put32(out, uint32_t(t.bytes().size()));
        out.append(reinterpret_cast<const char*>(t.bytes().data()), qsizetype(t.bytes().size()));
    }
    return out;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A temporary folder for a test's files, removed with it.
class TempFiles {
public:
    QString path() const { return dir_.path(); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    bool isValid() const { return dir_.isValid(); }

    // Writes `bytes` to `name` in the folder and returns the file's path.
    QString write(const QString& name, const QByteArray& bytes) const
    {
        const QString file = path(name);
        if (!writeFile(file, bytes))
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }

private:
    QTemporaryDir dir_;
};

} // namespace test
