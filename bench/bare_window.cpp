// mellowdeck-bench-bare WxH
//
// The reference for the start-up benchmark: a Qt Widgets program that shows an empty
// window of the given size and ends the process as soon as it has been painted.

#include "FirstPaint.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    int w = 0, h = 0;
    if (argc != 2 || std::sscanf(argv[1], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) {
        std::fprintf(stderr, "usage: mellowdeck-bench-bare WxH\n");
        return 64;
    }
    QApplication app(argc, argv);
    FirstPaint painted([] { std::_Exit(0); });
    QWidget window;
    window.resize(w, h);
    window.show();
    return QApplication::exec();
}
