// Lines per second through RollingView::ShowLine in a view of the main window's first size,
// once without painting and once with the event loop run after every line, as the program does.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "view/rolling_view.h"

namespace {

struct Rate {
    double linesPerSecond;
    double cpuMicrosPerLine;
};

Rate Measure(tarvane::RollingView& view, int lines, bool paint) {
    std::string line(100, 'x');
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpu = std::clock();
    for (int i = 0; i < lines; ++i) {
        // Numbered words of varying length, so that rows wrap as real messages do.
        const std::string number = std::to_string(i);
        line.replace(0, number.size(), number);
        line[20 + i % 40] = ' ';
        view.ShowLine(line);
        line[20 + i % 40] = 'x';
        if (paint) QApplication::processEvents();
    }
    const double cpuMicros = double(std::clock() - cpu) * 1e6 / CLOCKS_PER_SEC;
    return {lines / (timer.nsecsElapsed() / 1e9), cpuMicros / lines};
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

    const Rate bare = Measure(view, lines, false);
    const Rate painted = Measure(view, lines, true);
    std::printf("ShowLine, %d lines of 100 bytes, view 785x399 (%d rows kept)\n", lines,
                view.RowCount());
    std::printf("  without painting:            %6.0f lines/s, %5.1f us CPU per line\n",
                bare.linesPerSecond, bare.cpuMicrosPerLine);
    std::printf("  event loop after each line:  %6.0f lines/s, %5.1f us CPU per line\n",
                painted.linesPerSecond, painted.cpuMicrosPerLine);
    return statusWrites == 2 * lines ? 0 : 1;
}
