#include "dorvane/ApplicationStart.h"

#include "dorvane/ProtectionStatus.h"
#include "dorvane/StartUp.h"
#include "kestrum/Kestrum.h"
#include "platform/Volume.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace dorvane {

int ApplicationStart::run(QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    StartUp::addVolumeOptions(parser);
    parser.process(app);

    QString error;
    if (!StartUp::configureVolume(parser, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    StartUp::registerDefaults();
    StartUp::runCommonSteps();
    m_isRootless = ProtectionStatus::isRootless();

    std::printf("%s %s started on the volume %s (home %s).\n", qPrintable(kestrum::hx->appName()),
                qPrintable(kestrum::hx->appVersionString()), qPrintable(platform::Volume::root()),
                qPrintable(platform::Volume::home()));
    std::printf("Support folder: %s\nPreferences: %s\nSystem Integrity Protection counted as %s.\n",
                qPrintable(kestrum::hx->suppDir()), qPrintable(kestrum::hx->prefsPath()),
                m_isRootless ? "in force" : "disabled");
    return 0;
}

} // namespace dorvane
