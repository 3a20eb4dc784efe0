#pragma once

#include "ShellOpen.h"

#include <QString>

class QWidget;

namespace links {

// The two addresses the pictures open.
extern const QString kFirstAddress;    // the lower picture, Image1
extern const QString kSecondAddress;   // the upper picture, Image2
// What a screen reader announces for each picture: where it goes.
extern const QString kFirstName;
extern const QString kSecondName;

// Each click makes one request to the shell; the result is not examined.
void Image1_Click(QWidget* window, ShellOpener& shell);
void Image2_Click(QWidget* window, ShellOpener& shell);

} // namespace links
