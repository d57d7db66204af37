// CPU time per line through RollingView::ShowLine in a view of the main window's first size, for
// display lines of several lengths: line by line (no paint in between, so nothing is held), and
// as under a flood, where the lines of one paint interval are held, applied together and painted.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "view/rolling_view.h"

namespace {

// A display line as the intake builds it: the time, the sender, then `size` bytes of text that
// is printable words or random bytes (control bytes escaped the way the intake does).
std::string DisplayLine(int i, int size, bool randomBytes, std::mt19937& random) {
    char head[64];
    std::snprintf(head, sizeof head, "12:00:00.%03d:[6] 127.0.0.1 <134>message %08d ", i % 1000, i);
    std::string line = head;
    while (static_cast<int>(line.size()) < size) {
        if (!randomBytes) {
            line += "padded text of the flood ";
            continue;
        }
        const unsigned char b = static_cast<unsigned char>(random());
        if (b < 32 && b != '\t') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "#%03o", b);
            line += escaped;
        } else {
            line += static_cast<char>(b);
        }
    }
    line.resize(size);
    return line;
}

// CPU microseconds per line; `perPaint` lines are held and painted together (0: line by line).
double Measure(tarvane::RollingView& view, int lines, int perPaint, int size, bool randomBytes) {
    std::mt19937 random(7);
    std::vector<std::string> text;
    for (int i = 0; i < lines; ++i) text.push_back(DisplayLine(i, size, randomBytes, random));
    view.viewport()->repaint();
    const std::clock_t cpu = std::clock();
    for (int i = 0; i < lines; ++i) {
        view.ShowLine(text[i]);
        if (perPaint == 0) view.ApplyHeldLinesForTest();
        if (perPaint > 0 && i % perPaint == perPaint - 1) {
            view.ApplyHeldLinesForTest();
            view.viewport()->repaint();
        }
    }
    view.ApplyHeldLinesForTest();
    return double(std::clock() - cpu) * 1e6 / CLOCKS_PER_SEC / lines;
}

}  // namespace

int main(int argc, char** argv) {
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 2000;

    QWidget window;
    window.resize(805, 499);
    tarvane::RollingView view(&window);
    view.setGeometry(0, 0, 785, 399);
    window.show();
    QApplication::processEvents();

    struct Kind {
        const char* name;
        int size;
        bool randomBytes;
    } kinds[] = {{"130 B text", 130, false},
                 {"1 KB text", 1024, false},
                 {"8 KB text", 8000, false},
                 {"8 KB random bytes", 8000, true}};
    std::printf("ShowLine, %d lines of each kind, view 785x399; us CPU per line\n", lines);
    std::printf("%-18s %12s %14s %14s\n", "line", "one by one", "12 per paint", "250 per paint");
    for (const Kind& k : kinds) {
        const double single = Measure(view, lines, 0, k.size, k.randomBytes);
        const double twelve = Measure(view, lines, 12, k.size, k.randomBytes);
        const double many = Measure(view, lines, 250, k.size, k.randomBytes);
        std::printf("%-18s %12.1f %14.1f %14.1f\n", k.name, single, twelve, many);
    }
    return 0;
}
