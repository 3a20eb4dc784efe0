#pragma once

#include "Device.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

class QAbstractButton;

namespace md {

// The multimedia control of the player window: a strip of transport buttons over a
// sequencer device, driven through properties. Every command runs synchronously and
// reports failure through Error/ErrorMessage; nothing ever throws at the caller.
class MultimediaControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString DeviceType READ deviceType WRITE setDeviceType)
    Q_PROPERTY(QString FileName READ fileName WRITE setFileName)
    Q_PROPERTY(QString Command READ command WRITE setCommand)
    Q_PROPERTY(bool Wait READ wait WRITE setWait)
    Q_PROPERTY(int Mode READ mode)
    Q_PROPERTY(qint64 Position READ position)
    Q_PROPERTY(qint64 Length READ length)
    Q_PROPERTY(qint64 To READ to WRITE setTo)
    Q_PROPERTY(int UpdateInterval READ updateInterval WRITE setUpdateInterval)
    Q_PROPERTY(int Error READ error)
    Q_PROPERTY(QString ErrorMessage READ errorMessage)
    Q_PROPERTY(QString OutputError READ outputError NOTIFY OutputChanged)

public:
    // Values of Error.
    enum ErrorCode {
        NoError = 0,
        DeviceError = 1,      // the device refused the command; ErrorMessage says why
        UnknownCommand = 2,
        NoDevice = 3,         // no device was given to the control
        UnsupportedDevice = 4 // DeviceType names something other than a sequencer
    };

    // The transport buttons, left to right.
    enum Button { Prev, Next, Play, Pause, Back, Step, Stop, Record, Eject };
    static constexpr int kButtonCount = 9;

    // How far Back and Step move the position.
    static constexpr int64_t kStepMs = 1000;

    explicit MultimediaControl(std::unique_ptr<Device> device = nullptr, QWidget* parent = nullptr);
    ~MultimediaControl() override;

    // Replaces the device; the old one is closed first.
    void setDevice(std::unique_ptr<Device> device);
    Device* device() const { return m_device.get(); }

    QString deviceType() const { return m_deviceType; }
    void setDeviceType(const QString& type) { m_deviceType = type; }

    QString fileName() const { return m_fileName; }
    void setFileName(const QString& name) { m_fileName = name; }

    // The last command written.
    QString command() const { return m_command; }
    void setCommand(const QString& command);

    // Commands always complete before setCommand returns, so this flag only records
    // what the caller asked for.
    bool wait() const { return m_wait; }
    void setWait(bool wait) { m_wait = wait; }

    int mode() const;
    // The mode the listener hears: Playing until the end of the piece is heard, though
    // Mode may say Stopped as soon as it is rendered. The buttons and ModeChange show this.
    int heardMode() const;

    // Milliseconds from the beginning of the piece, and its length; 0 with no device.
    qint64 position() const { return m_device ? m_device->positionMs() : 0; }
    qint64 length() const { return m_device ? m_device->lengthMs() : 0; }

    // Where the "Seek" command moves the position to, in milliseconds.
    qint64 to() const { return m_to; }
    void setTo(qint64 ms) { m_to = ms; }

    // Milliseconds between StatusUpdate events, 0..65535 (0: none). Writing the value
    // already in force leaves the timer running on its current phase.
    int updateInterval() const { return m_updateInterval; }
    void setUpdateInterval(int ms);

    int error() const { return m_error; }
    QString errorMessage() const { return m_errorMessage; }

    // Why the open piece cannot be heard (its sound output was lost, or could not be had
    // again), or empty; the next Play tries the output again.
    QString outputError() const { return m_outputError; }

    QAbstractButton* button(Button which) const { return m_buttons[which]; }

    QSize sizeHint() const override { return {236, 25}; }

signals:
    // Raised by the control's own Play and Stop buttons before they act; a handler that
    // sets `cancel` to non-zero keeps the control from acting.
    void PlayClick(int& cancel);
    void StopClick(int& cancel);
    // Raised every UpdateInterval milliseconds while it is non-zero.
    void StatusUpdate();
    // Raised when the control sees the device in a new mode: after a command, or within
    // a quarter of a second of the device stopping by itself.
    void ModeChange(int mode);
    // Raised when OutputError changes.
    void OutputChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buttonClicked(Button which);
    void refreshButtons();
    void fail(ErrorCode code, const QString& message);

    std::unique_ptr<Device> m_device;
    QString m_deviceType;
    QString m_fileName;
    QString m_command;
    bool m_wait = false;
    qint64 m_to = 0;
    Mode m_shownMode = Mode::NotOpen;
    int m_updateInterval = 0;
    int m_error = NoError;
    QString m_errorMessage;
    QString m_outputError;
    QTimer m_statusTimer{this};
    // The device stops by itself at the end of a piece, and may lose its output: this keeps
    // the buttons and OutputError honest.
    QTimer m_modeWatch{this};
    std::array<QAbstractButton*, kButtonCount> m_buttons{};
};

} // namespace md
