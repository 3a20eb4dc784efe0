#pragma once

#include "Device.h"

#include <QMainWindow>

#include <memory>

namespace links {
class ShellOpener;
}
namespace md {
struct PlayerControls;
}

// The player window: builds every control at its place, the menu and the flash timer,
// and connects their events to the handlers. All state lives in the controls. The
// window deletes itself when closed, and with it the multimedia control, which closes
// the device.
class frmMidiPlayer : public QMainWindow {
    Q_OBJECT
public:
    // `displayFont` is the family registered at start-up for the device captions;
    // `shell` opens the pictures' addresses (the desktop's browser when null).
    frmMidiPlayer(std::unique_ptr<md::Device> device, const QString& displayFont,
                  links::ShellOpener* shell = nullptr, QWidget* parent = nullptr);
    ~frmMidiPlayer() override;

    // Offers the transport on the session bus (MPRIS) for media keys, the desktop's media
    // controls and playerctl; does nothing without a session bus.
    void offerMediaControls();

protected:
    // A SoundFont dropped on the window becomes the one the run plays with.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenu();
    void connectHandlers();
    void mnuFileExit_Click();

    std::unique_ptr<links::ShellOpener> m_ownShell;
    links::ShellOpener* m_shell;
    std::unique_ptr<md::PlayerControls> m_controls;
};
