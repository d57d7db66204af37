// Lines per second through RollingView::ShowLine in a view of the main window's first size,
// once without painting and once with the event loop run after every line, as the program does.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "view/rolling_view.h"

namespace {

double LinesPerSecond(tarvane::RollingView& view, int lines, bool paint) {
    std::string line(100, 'x');
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < lines; ++i) {
        // Numbered words of varying length, so that rows wrap as real messages do.
        const std::string number = std::to_string(i);
        line.replace(0, number.size(), number);
        line[20 + i % 40] = ' ';
        view.ShowLine(line);
        line[20 + i % 40] = 'x';
        if (paint) QApplication::processEvents();
    }
    return lines / (timer.nsecsElapsed() / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;

    QWidget window;
    window.resize(805, 499);
    tarvane::RollingView view(&window);
    view.setGeometry(0, 0, 785, 399);
    int statusWrites = 0;
    view.SetStatusSink([&](const QString&) { ++statusWrites; });
    window.show();
    QApplication::processEvents();

    const double bare = LinesPerSecond(view, lines, false);
    const double painted = argc > 2 ? LinesPerSecond(view, lines, true) : 0;
    std::printf("ShowLine, %d lines of 100 bytes, view 785x399 (%d rows kept)\n", lines,
                view.RowCount());
    std::printf("  without painting: %.0f lines/s\n", bare);
    std::printf("  event loop after each line: %.0f lines/s\n", painted);
    return statusWrites == 2 * lines ? 0 : 1;
}
