// Lines per second through RollingView::ShowLine in a view of the main window's first size:
// line by line (no paint in between, so nothing is held), and as under a flood, where the lines
// of one paint interval are held and applied together before the paint.
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

// A display line as the intake builds it for the benchmark's flood: about 130 characters,
// which wrap into two rows at the view's first width.
std::string DisplayLine(int i) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "12:00:00.%03d:[6] 127.0.0.1 <134>Dec  9 12:00:00 benchhost app[42]: message "
                  "%08d of the flood, padded to about one hundred bytes",
                  i % 1000, i);
    return text;
}

Rate Measure(tarvane::RollingView& view, int lines, int perPaint) {
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpu = std::clock();
    for (int i = 0; i < lines; ++i) {
        view.ShowLine(DisplayLine(i));
        if (perPaint == 0) view.ApplyPending();
        if (perPaint > 0 && i % perPaint == perPaint - 1) {
            view.ApplyPending();
            view.viewport()->repaint();
        }
    }
    view.ApplyPending();
    const double cpuMicros = double(std::clock() - cpu) * 1e6 / CLOCKS_PER_SEC;
    return {lines / (timer.nsecsElapsed() / 1e9), cpuMicros / lines};
}

}  // namespace

int main(int argc, char** argv) {
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;

    QWidget window;
    window.resize(805, 499);
    tarvane::RollingView view(&window);
    view.setGeometry(0, 0, 785, 399);
    window.show();
    QApplication::processEvents();

    const Rate single = Measure(view, lines, 0);
    // A paint marks the start of a hold: lines shown soon after it wait for the next.
    view.viewport()->repaint();
    const Rate held = Measure(view, lines, 250);
    std::printf("ShowLine, %d display lines of ~130 bytes, view 785x399 (%d rows kept)\n", lines,
                view.RowCount());
    std::printf("  line by line:                       %7.0f lines/s, %6.1f us CPU per line\n",
                single.linesPerSecond, single.cpuMicrosPerLine);
    std::printf("  held, 250 lines per paint:          %7.0f lines/s, %6.1f us CPU per line\n",
                held.linesPerSecond, held.cpuMicrosPerLine);
    return 0;
}
