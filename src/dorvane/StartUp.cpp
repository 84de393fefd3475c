#include "dorvane/StartUp.h"

#include "dorvane/Settings.h"
#include "kestrum/Kestrum.h"
#include "platform/Volume.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace dorvane::StartUp {

namespace {

QString optionOrEnvironment(const QCommandLineParser &parser, const QString &option, const char *variable)
{
    if (parser.isSet(option))
        return parser.value(option);
    return qEnvironmentVariable(variable);
}

} // namespace

void addVolumeOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("root"),
                      QStringLiteral("The folder that stands for the Mac volume's root (default: /, or $DORVANE_ROOT)."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("home"),
                      QStringLiteral("The logical home folder on that volume (default: $HOME, or $DORVANE_HOME)."),
                      QStringLiteral("DIR")});
}

bool configureVolume(const QCommandLineParser &parser, QString *error)
{
    const QString root = optionOrEnvironment(parser, QStringLiteral("root"), "DORVANE_ROOT");
    const QString home = optionOrEnvironment(parser, QStringLiteral("home"), "DORVANE_HOME");
    if (!root.isEmpty() && !QFileInfo(root).isDir()) {
        if (error)
            *error = QStringLiteral("The volume root %1 is not a folder.").arg(root);
        return false;
    }
    if (!home.isEmpty() && !home.startsWith(QLatin1Char('/'))) {
        if (error)
            *error = QStringLiteral("The home folder %1 must be an absolute path on the volume.").arg(home);
        return false;
    }
    platform::Volume::configure(root, home);
    return true;
}

void registerDefaults()
{
    Settings::registerDefaults();
}

void runCommonSteps()
{
    static kestrum::Kestrum shared;
    Settings::recordLaunchDate();
    Settings::runMigrations();
    Settings::resetToolTipDelay();
}

} // namespace dorvane::StartUp
