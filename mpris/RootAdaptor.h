#pragma once

#include <QAction>
#include <QDBusAbstractAdaptor>
#include <QGuiApplication>
#include <QStringList>

namespace mpris {

// org.mpris.MediaPlayer2: the program as a whole. Raise brings the window to the front;
// Quit is File > Exit. Its name and desktop entry are those the application declares.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    // Pieces are opened only through File > Open.
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)

public:
    RootAdaptor(QObject* object, QWidget& window, QAction& exit)
        : QDBusAbstractAdaptor(object), m_window(window), m_exit(exit)
    {
    }

public slots:
    void Raise();
    void Quit() { m_exit.trigger(); }

private:
    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QGuiApplication::applicationDisplayName(); }
    QString desktopEntry() const { return QGuiApplication::desktopFileName(); }
    QStringList none() const { return {}; }

    QWidget& m_window;
    QAction& m_exit;
};

} // namespace mpris
