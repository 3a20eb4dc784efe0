#include "RootAdaptor.h"

#include <QWidget>

namespace mpris {

void RootAdaptor::Raise()
{
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

} // namespace mpris
