#include "dorvane/ApplicationStart.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return dorvane::ApplicationStart().run(app);
}
