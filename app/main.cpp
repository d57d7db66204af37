#include <QApplication>

#include "app/frmmain.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    return tarvane::RunApplication();
}
