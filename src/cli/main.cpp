#include "dorvane/cli/CommandLineTool.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return dorvane::CommandLineTool().run(app.arguments());
}
