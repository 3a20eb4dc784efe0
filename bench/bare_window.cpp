// mellowdeck-bench-bare WxH [--peak-rss]
//
// The reference for the start-up benchmark: a Qt Widgets program that shows an empty
// window of the given size and ends the process as soon as it has been painted. With
// --peak-rss it prints its peak resident set (bytes) then: what Qt alone takes.

#include "FirstPaint.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long long peakRssBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atoll(line.c_str() + 6) * 1024;
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    int w = 0, h = 0;
    const bool rss = argc == 3 && std::strcmp(argv[2], "--peak-rss") == 0;
    if ((argc != 2 && !rss) || std::sscanf(argv[1], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) {
        std::fprintf(stderr, "usage: mellowdeck-bench-bare WxH [--peak-rss]\n");
        return 64;
    }
    QApplication app(argc, argv);
    FirstPaint painted([rss] {
        if (rss) {
            std::printf("%lld\n", peakRssBytes());
            std::fflush(stdout);
        }
        std::_Exit(0);
    });
    QWidget window;
    window.resize(w, h);
    window.show();
    return QApplication::exec();
}
