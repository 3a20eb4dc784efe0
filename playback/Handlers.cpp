#include "Handlers.h"

#include <QCheckBox>
#include <QDebug>
#include <QLabel>
#include <QPushButton>

namespace md {

namespace {

// The label keeps the whole line; the window's file name box draws it shortened when it
// does not fit.
void showLine(QLabel& label, const QString& text, const QString& toolTip)
{
    label.setText(text);
    label.setToolTip(toolTip);
}

// A piece that cannot be heard, or a file that was refused: `prefix` before its path in the
// box, the reason as the tooltip and on stderr.
void showProblem(QLabel& label, const QString& prefix, const QString& path, const QString& why)
{
    const QString line = prefix + path;
    showLine(label, line, why);
    qWarning().noquote() << line + QStringLiteral(": ") + why;
}

// The file name box's tooltip: the piece's path, the SoundFont it plays with, and why one the
// piece brought is not used.
QString aboutPiece(const PlayerControls& c, const QString& path)
{
    QStringList lines;
    if (!path.isEmpty())
        lines << path;
    if (const QString font = c.MMControl1.soundFont(); !font.isEmpty())
        lines << QStringLiteral("SoundFont: ") + font;
    if (const QString warning = c.MMControl1.soundFontWarning(); !warning.isEmpty())
        lines << warning;
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void mnuFileOpen_Click(PlayerControls& c)
{
    // Every step runs even when the one before it failed; only cancelling ends the sequence.
    c.CMDialog1.setAction(CommonDialog::ActionOpen);
    if (c.CMDialog1.error() != CommonDialog::NoError)
        return;

    c.MMControl1.setWait(true);
    // No poll may restart the old piece while the device changes.
    c.MMControl1.setUpdateInterval(0);
    if (c.MMControl1.mode() != static_cast<int>(Mode::NotOpen))
        c.MMControl1.setCommand(QStringLiteral("Close"));

    // Open the chosen file even when it is the one just closed: choosing the loaded piece
    // again leaves it ready at its beginning instead of closed for good.
    const QString path = c.CMDialog1.fileName();
    c.MMControl1.setFileName(path);
    c.MMControl1.setDeviceType(QStringLiteral("Sequencer"));
    c.MMControl1.setCommand(QStringLiteral("Open"));
    const bool opened = c.MMControl1.error() == MultimediaControl::NoError;
    c.btnStart.setEnabled(true);
    c.btnStop.setEnabled(true);

    if (opened) {
        showLine(c.lblFileName, path, aboutPiece(c, path));
        if (const QString warning = c.MMControl1.soundFontWarning(); !warning.isEmpty())
            qWarning().noquote() << path + QStringLiteral(": ") + warning;
    } else {
        // Say plainly that the file did not load, and why, rather than show it as loaded.
        showProblem(c.lblFileName, QStringLiteral("[cannot open] "), path, c.MMControl1.errorMessage());
    }
}

void btnStart_Click(PlayerControls& c)
{
    if (c.MMControl1.fileName().isEmpty())
        return;
    int cancel = 0;
    MMControl1_PlayClick(c, cancel);
}

void btnStop_Click(PlayerControls& c)
{
    if (c.MMControl1.fileName().isEmpty())
        return;
    int cancel = 0;
    MMControl1_StopClick(c, cancel);
}

void MMControl1_PlayClick(PlayerControls& c, int& /*cancel*/)
{
    // Playing itself is left to the poll, which rewinds first.
    c.MMControl1.setUpdateInterval(kPollMs);
}

void MMControl1_StopClick(PlayerControls& c, int& /*cancel*/)
{
    c.MMControl1.setUpdateInterval(0);
    c.MMControl1.setCommand(QStringLiteral("Stop"));
    c.MMControl1.setCommand(QStringLiteral("Prev"));
}

void MMControl1_StatusUpdate(PlayerControls& c)
{
    // Only a fully checked box loops; a greyed one counts as unchecked.
    if (c.chkLoopSounds.checkState() == Qt::Checked) {
        if (c.MMControl1.mode() == static_cast<int>(Mode::Stopped)) {
            c.MMControl1.setCommand(QStringLiteral("Prev"));
            c.MMControl1.setCommand(QStringLiteral("Play"));
        }
        return;
    }
    c.MMControl1.setCommand(QStringLiteral("Prev"));
    c.MMControl1.setCommand(QStringLiteral("Play"));
    c.MMControl1.setUpdateInterval(0);
}

void MMControl1_OutputChanged(PlayerControls& c)
{
    const QString path = c.MMControl1.fileName();
    const QString why = c.MMControl1.outputError();
    if (why.isEmpty()) {
        showLine(c.lblFileName, path, aboutPiece(c, path));
        return;
    }
    showProblem(c.lblFileName, QStringLiteral("[no audio output] "), path, why);
}

void frmMidiPlayer_DragDrop(PlayerControls& c, const QString& path)
{
    c.MMControl1.setSoundFont(path);
    if (c.MMControl1.error() != MultimediaControl::NoError) {
        showProblem(c.lblFileName, QStringLiteral("[cannot open] "), path, c.MMControl1.errorMessage());
        return;
    }
    // A refused drop is taken back from the box; a line about the piece itself (it did not
    // open, or cannot be heard) keeps its reason.
    const QString piece = c.MMControl1.fileName();
    const QString refused = QStringLiteral("[cannot open] ");
    const QString shown = c.lblFileName.text();
    const bool failed = !piece.isEmpty() && c.MMControl1.mode() == static_cast<int>(Mode::NotOpen);
    if (shown.startsWith(QStringLiteral("[no audio output] ")) || (failed && shown == refused + piece))
        return;
    if (!c.MMControl1.outputError().isEmpty())
        return showLine(c.lblFileName, QStringLiteral("[no audio output] ") + piece, c.MMControl1.outputError());
    showLine(c.lblFileName, piece.isEmpty() ? QStringLiteral("[none]") : failed ? refused + piece : piece,
             aboutPiece(c, piece));
}

} // namespace md
