#include "dorvane/gui/ApplicationMain.h"

#include "dorvane/StartUp.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/MainWindow.h"
#include "kestrum/widgets/AlertDialog.h"
#include "kestrum/widgets/Application.h"
#include "platform/CrashSignalHandler.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

namespace dorvane {

int ApplicationMain::run(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Dorvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Dorvane"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the installer packages recorded on a Mac volume and removes them safely."));
    parser.addHelpOption();
    StartUp::addVolumeOptions(parser);
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the main window to FILE once every "
                                                       "package has its size, then quit (for documentation)."),
                                        QStringLiteral("FILE"));
    parser.addOption(screenshot);
    parser.process(app);

    QString error;
    if (!StartUp::configureVolume(parser, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    // Reports of a crash go into the volume's home, where the next start looks.
    platform::installCrashSignalHandlers();
    kestrum::setAlertPresenter(std::make_shared<kestrum::DialogPresenter>());
    QApplication::setStyle(new kestrum::ToolTipDelayStyle);
    StartUp::registerDefaults();

    AppDelegate delegate;
    delegate.window()->show();
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QObject::connect(&delegate, &AppDelegate::sizePassFinished, &app, [&delegate, file] {
            // One more turn of the loop so the last row is drawn.
            QTimer::singleShot(200, &delegate, [&delegate, file] {
                const bool saved = delegate.window()->grab().save(file);
                if (!saved)
                    std::fprintf(stderr, "Could not save the picture to %s\n", qPrintable(file));
                QApplication::exit(saved ? 0 : 1);
            });
        });
    }
    const int status = app.exec();
    // The last log lines may still wait for their write.
    platform::UserDefaults::standard().synchronize();
    return status;
}

} // namespace dorvane
