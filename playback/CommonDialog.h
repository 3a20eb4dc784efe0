#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QFileDialog;
class QWidget;

namespace md {

// The file dialog of the player window, driven through properties: set Action to 1 to
// ask for a file; afterwards FileName holds the full path, or Error says the user cancelled.
class CommonDialog : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Title READ title WRITE setTitle)
    Q_PROPERTY(QString Filter READ filter WRITE setFilter)
    Q_PROPERTY(QString DefaultExt READ defaultExt WRITE setDefaultExt)
    Q_PROPERTY(QString FileName READ fileName WRITE setFileName)
    Q_PROPERTY(int Action READ action WRITE setAction)
    Q_PROPERTY(int Error READ error)

public:
    enum ErrorCode { NoError = 0, CancelError = 32755, UnsupportedAction = 32756 };
    enum ActionCode { ActionNone = 0, ActionOpen = 1 };

    // Shows the configured dialog and returns the chosen path, or nothing on cancel.
    // Tests put their own in its place so that nothing is shown.
    using Chooser = std::function<std::optional<QString>(QFileDialog&)>;

    explicit CommonDialog(QWidget* parent = nullptr);

    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

    // "Description|patterns|Description|patterns|", patterns separated by ';'.
    QString filter() const { return m_filter; }
    void setFilter(const QString& filter) { m_filter = filter; }

    // ".mid;.rmi": the first one is added to a typed name that has no extension.
    QString defaultExt() const { return m_defaultExt; }
    void setDefaultExt(const QString& ext) { m_defaultExt = ext; }

    QString fileName() const { return m_fileName; }
    void setFileName(const QString& name) { m_fileName = name; }

    int action() const { return m_action; }
    void setAction(int action);

    int error() const { return m_error; }

    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }

    // Prepares a file dialog with this control's settings; Action 1 shows it. Names
    // match the filter without regard to letter case.
    void configure(QFileDialog& dialog) const;

    // Qt name filters for a "Description|patterns|" filter; descriptions stay as written.
    static QStringList qtNameFilters(const QString& filter);

private:
    QWidget* m_parent;
    QString m_title;
    QString m_filter;
    QString m_defaultExt;
    QString m_fileName;
    int m_action = ActionNone;
    int m_error = NoError;
    Chooser m_chooser;
};

} // namespace md
