#pragma once

#include <QString>

class QWidget;

namespace links {

// What the program asks of the desktop shell: open `file` with `operation`.
struct ShellRequest {
    QWidget* window = nullptr;   // the window the request comes from
    QString operation;           // "Open"
    QString file;                // a web address
    QString parameters;          // empty
    QString directory;           // working directory: the application's directory
    int showCommand = 1;         // 1: show normally
};

// Hands requests to the desktop. The result is not examined by the program.
class ShellOpener {
public:
    virtual ~ShellOpener() = default;
    virtual void shellExecute(const ShellRequest& request) = 0;
};

// Opens the address in the user's default browser (never through a shell).
class DesktopShellOpener final : public ShellOpener {
public:
    void shellExecute(const ShellRequest& request) override;
};

} // namespace links
