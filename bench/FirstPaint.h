#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <functional>

// Calls `then` once, after the first paint of any widget has been drawn and flushed:
// the paint events of one update are delivered together, so a zero timer posted from
// the first of them runs after the window has reached the screen.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(std::function<void()> then) : m_then(std::move(then))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Paint) {
            m_seen = true;
            QTimer::singleShot(0, this, [this] { m_then(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_then;
    bool m_seen = false;
};
