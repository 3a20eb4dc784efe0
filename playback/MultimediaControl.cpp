#include "MultimediaControl.h"

#include <QAbstractButton>
#include <QFile>
#include <QPainter>

#include <algorithm>

namespace md {

namespace {

// Grey bevelled button with a transport glyph, in the manner of classic media panels.
class TransportButton : public QAbstractButton {
public:
    TransportButton(MultimediaControl::Button glyph, QWidget* parent)
        : QAbstractButton(parent), m_glyph(glyph)
    {
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect r = rect();
        const bool down = isDown();
        p.fillRect(r, QColor(0xc0, 0xc0, 0xc0));

        // Two-pixel bevel: light top-left and dark bottom-right when raised, swapped
        // when pressed.
        const QColor light = down ? QColor(0x80, 0x80, 0x80) : Qt::white;
        const QColor dark = down ? Qt::white : QColor(0x80, 0x80, 0x80);
        const QColor outer = down ? QColor(0x40, 0x40, 0x40) : Qt::black;
        p.setPen(down ? outer : light);
        p.drawLine(r.topLeft(), r.topRight() - QPoint(1, 0));
        p.drawLine(r.topLeft(), r.bottomLeft() - QPoint(0, 1));
        p.setPen(down ? light : outer);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(dark);
        p.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
        p.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);

        const QPoint centre = r.center() + (down ? QPoint(1, 1) : QPoint(0, 0));
        if (isEnabled()) {
            const QColor ink = m_glyph == MultimediaControl::Record ? QColor(0xc0, 0, 0) : Qt::black;
            drawGlyph(p, centre, ink);
        } else {
            // Disabled glyphs are engraved: a white copy below-right of a grey one.
            drawGlyph(p, centre + QPoint(1, 1), Qt::white);
            drawGlyph(p, centre, QColor(0x80, 0x80, 0x80));
        }
    }

private:
    static void triangle(QPainter& p, int x, int cy, int w, bool right)
    {
        // A filled triangle `w` pixels wide and 2*w-1 pixels tall, pointing left or right,
        // drawn column by column so it stays crisp without antialiasing.
        for (int i = 0; i < w; ++i) {
            const int half = right ? w - 1 - i : i;
            p.drawLine(x + i, cy - half, x + i, cy + half);
        }
    }

    void drawGlyph(QPainter& p, QPoint c, const QColor& ink) const
    {
        p.setPen(ink);
        p.setBrush(ink);
        const int x = c.x();
        const int y = c.y();
        switch (m_glyph) {
        case MultimediaControl::Prev:       // |<<
            p.fillRect(x - 5, y - 3, 1, 7, ink);
            triangle(p, x - 4, y, 4, false);
            triangle(p, x, y, 4, false);
            break;
        case MultimediaControl::Next:       // >>|
            triangle(p, x - 4, y, 4, true);
            triangle(p, x, y, 4, true);
            p.fillRect(x + 4, y - 3, 1, 7, ink);
            break;
        case MultimediaControl::Play:       // >
            triangle(p, x - 2, y, 5, true);
            break;
        case MultimediaControl::Pause:      // ||
            p.fillRect(x - 3, y - 4, 2, 9, ink);
            p.fillRect(x + 1, y - 4, 2, 9, ink);
            break;
        case MultimediaControl::Back:       // <|
            triangle(p, x - 3, y, 4, false);
            p.fillRect(x + 2, y - 3, 1, 7, ink);
            break;
        case MultimediaControl::Step:       // |>
            p.fillRect(x - 3, y - 3, 1, 7, ink);
            triangle(p, x, y, 4, true);
            break;
        case MultimediaControl::Stop:       // square
            p.fillRect(x - 3, y - 3, 7, 7, ink);
            break;
        case MultimediaControl::Record:     // dot
            p.setRenderHint(QPainter::Antialiasing);
            p.drawEllipse(QPointF(x + 0.5, y + 0.5), 3.5, 3.5);
            p.setRenderHint(QPainter::Antialiasing, false);
            break;
        case MultimediaControl::Eject:      // triangle over a bar
            for (int i = 0; i < 4; ++i)
                p.drawLine(x - i, y - 4 + i, x + i, y - 4 + i);
            p.fillRect(x - 3, y + 2, 7, 2, ink);
            break;
        }
    }

    MultimediaControl::Button m_glyph;
};

const char* const kButtonNames[MultimediaControl::kButtonCount] = {
    "Prev", "Next", "Play", "Pause", "Back", "Step", "Stop", "Record", "Eject"};

} // namespace

MultimediaControl::MultimediaControl(std::unique_ptr<Device> device, QWidget* parent)
    : QWidget(parent), m_device(std::move(device))
{
    setFocusPolicy(Qt::StrongFocus);
    for (int i = 0; i < kButtonCount; ++i) {
        const auto which = static_cast<Button>(i);
        auto* b = new TransportButton(which, this);
        b->setObjectName(QLatin1String(kButtonNames[i]));
        b->setToolTip(QLatin1String(kButtonNames[i]));
        connect(b, &QAbstractButton::clicked, this, [this, which] { buttonClicked(which); });
        m_buttons[i] = b;
    }
    resize(sizeHint());

    m_statusTimer.setObjectName(QStringLiteral("StatusTimer"));
    connect(&m_statusTimer, &QTimer::timeout, this, &MultimediaControl::StatusUpdate);
    connect(&m_modeWatch, &QTimer::timeout, this, &MultimediaControl::refreshButtons);
    m_modeWatch.start(250);
    refreshButtons();
}

MultimediaControl::~MultimediaControl()
{
    // Going away with the window must silence the device.
    if (m_device && m_device->mode() != Mode::NotOpen)
        m_device->close();
}

void MultimediaControl::setDevice(std::unique_ptr<Device> device)
{
    if (m_device && m_device->mode() != Mode::NotOpen)
        m_device->close();
    m_device = std::move(device);
    refreshButtons();
}

int MultimediaControl::mode() const
{
    return static_cast<int>(m_device ? m_device->mode() : Mode::NotOpen);
}

int MultimediaControl::heardMode() const
{
    return static_cast<int>(m_device ? m_device->heardMode() : Mode::NotOpen);
}

void MultimediaControl::fail(ErrorCode code, const QString& message)
{
    m_error = code;
    m_errorMessage = message;
}

void MultimediaControl::setCommand(const QString& command)
{
    m_command = command;
    m_error = NoError;
    m_errorMessage.clear();

    const QString word = command.trimmed().toLower();
    static const QStringList known = {"open", "close", "play", "prev", "stop",
                                      "pause", "next", "back", "step", "seek"};
    if (!known.contains(word)) {
        fail(UnknownCommand, QStringLiteral("unknown command: \"%1\"").arg(command));
        return;
    }
    if (!m_device) {
        fail(NoDevice, QStringLiteral("no device"));
        return;
    }

    bool ok = false;
    if (word == QLatin1String("open")) {
        if (!m_deviceType.isEmpty() && m_deviceType.compare(QLatin1String("Sequencer"), Qt::CaseInsensitive) != 0) {
            fail(UnsupportedDevice, QStringLiteral("unsupported device type: \"%1\"").arg(m_deviceType));
            refreshButtons();
            return;
        }
        // The file system's own bytes for the name, not UTF-8 regardless of the locale.
        ok = m_device->open(QFile::encodeName(m_fileName).toStdString());
    } else if (word == QLatin1String("close")) {
        ok = m_device->close();
    } else if (word == QLatin1String("play")) {
        ok = m_device->play();
    } else if (word == QLatin1String("prev")) {
        ok = m_device->prev();
    } else if (word == QLatin1String("stop")) {
        ok = m_device->stop();
    } else if (word == QLatin1String("pause")) {
        ok = m_device->pause();
    } else if (word == QLatin1String("next")) {
        ok = m_device->next();
    } else if (word == QLatin1String("back")) {
        ok = m_device->seek(std::max<int64_t>(0, m_device->positionMs() - kStepMs));
    } else if (word == QLatin1String("step")) {
        ok = m_device->seek(m_device->positionMs() + kStepMs);
    } else if (word == QLatin1String("seek")) {
        ok = m_device->seek(m_to);
    }
    if (!ok)
        fail(DeviceError, QString::fromStdString(m_device->errorMessage()));
    refreshButtons();
}

void MultimediaControl::setUpdateInterval(int ms)
{
    ms = std::clamp(ms, 0, 65535);
    if (ms == m_updateInterval)
        return;   // already in force: keep the timer's phase
    m_updateInterval = ms;
    if (ms == 0)
        m_statusTimer.stop();
    else
        m_statusTimer.start(ms);
}

void MultimediaControl::buttonClicked(Button which)
{
    int cancel = 0;
    switch (which) {
    case Play:
        emit PlayClick(cancel);
        if (cancel == 0)
            setCommand(QStringLiteral("Play"));
        break;
    case Stop:
        emit StopClick(cancel);
        if (cancel == 0)
            setCommand(QStringLiteral("Stop"));
        break;
    case Prev: setCommand(QStringLiteral("Prev")); break;
    case Next: setCommand(QStringLiteral("Next")); break;
    case Pause: setCommand(QStringLiteral("Pause")); break;
    case Back: setCommand(QStringLiteral("Back")); break;
    case Step: setCommand(QStringLiteral("Step")); break;
    case Record:
    case Eject:
        break;   // a sequencer neither records nor ejects; these stay disabled
    }
    refreshButtons();
}

void MultimediaControl::refreshButtons()
{
    const auto m = static_cast<Mode>(heardMode());
    const bool open = m != Mode::NotOpen;
    const bool playing = m == Mode::Playing;
    const bool canPlay = m == Mode::Stopped || m == Mode::Paused || m == Mode::Open;
    m_buttons[Prev]->setEnabled(open);
    m_buttons[Next]->setEnabled(open);
    m_buttons[Back]->setEnabled(open);
    m_buttons[Step]->setEnabled(open);
    m_buttons[Play]->setEnabled(canPlay);
    m_buttons[Pause]->setEnabled(playing);
    m_buttons[Stop]->setEnabled(playing);
    m_buttons[Record]->setEnabled(false);
    m_buttons[Eject]->setEnabled(false);
    if (m != m_shownMode) {
        m_shownMode = m;
        emit ModeChange(static_cast<int>(m));
    }
    const QString outputError = m_device ? QString::fromStdString(m_device->outputError()) : QString();
    if (outputError != m_outputError) {
        m_outputError = outputError;
        emit OutputChanged();
    }
}

void MultimediaControl::resizeEvent(QResizeEvent*)
{
    // Share the width out evenly; the first few buttons take the leftover pixels.
    const int w = width();
    const int base = w / kButtonCount;
    const int extra = w % kButtonCount;
    int x = 0;
    for (int i = 0; i < kButtonCount; ++i) {
        const int bw = base + (i < extra ? 1 : 0);
        m_buttons[i]->setGeometry(x, 0, bw, height());
        x += bw;
    }
}

} // namespace md
