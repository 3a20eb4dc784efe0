#include "CommonDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace md {

namespace {

std::optional<QString> showModal(QFileDialog& dialog)
{
    // A modal loop of its own: timers (the caption's flash, the playback poll) keep running.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

CommonDialog::CommonDialog(QWidget* parent) : QObject(parent), m_parent(parent) {}

QStringList CommonDialog::qtNameFilters(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << p.trimmed();
        if (patterns.isEmpty())
            continue;
        result << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

void CommonDialog::configure(QFileDialog& dialog) const
{
    // Qt's own dialog looks and behaves the same on every desktop, and its modal loop
    // keeps our timers running.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Show the description as written, without the patterns repeated after it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(m_title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Files from other systems are often called "SONG.MID": match names without regard
    // to letter case, whatever the platform's default.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    const QStringList filters = qtNameFilters(m_filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    const QString ext = m_defaultExt.section(QLatin1Char(';'), 0, 0).trimmed();
    dialog.setDefaultSuffix(ext.startsWith(QLatin1Char('.')) ? ext.mid(1) : ext);

    if (!m_fileName.isEmpty()) {
        // Offer the last choice again, in its folder.
        const QFileInfo last(m_fileName);
        dialog.setDirectory(last.absolutePath());
        dialog.selectFile(last.fileName());
        return;
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    dialog.setDirectory(!music.isEmpty() && QFileInfo(music).isDir() ? music : QDir::homePath());
}

void CommonDialog::setAction(int action)
{
    m_action = action;
    m_error = NoError;
    if (action == ActionNone)
        return;
    if (action != ActionOpen) {
        m_error = UnsupportedAction;
        return;
    }
    QFileDialog dialog(m_parent);
    configure(dialog);
    const std::optional<QString> chosen = m_chooser ? m_chooser(dialog) : showModal(dialog);
    if (!chosen) {
        m_error = CancelError;   // cancelling is an error, not an empty name
        return;
    }
    m_fileName = *chosen;
}

} // namespace md
