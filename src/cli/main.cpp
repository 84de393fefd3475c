#include "dorvane/cli/CommandLineTool.h"

#include "platform/Memory.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    platform::keepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    const int status = dorvane::CommandLineTool().run(app.arguments());
    // The last log lines may still wait for their write.
    platform::UserDefaults::standard().synchronize();
    return status;
}
