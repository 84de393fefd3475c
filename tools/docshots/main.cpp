// Uninstalls one package of a volume from the window, as a user would, and
// saves a picture of the screen once the success sheet is up. Every
// question is answered with its first button, so run it on a demo volume.
// With --settings or --documentation, pictures that window instead; with
// --undo as well as --package, the Logs menu open on "Undo Last Uninstall…"
// once the sheet is closed.
//
//   docshots --root VOLUME --home HOME (--package ID [--undo] | --settings | --documentation) FILE

#include "dorvane/StartUp.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/DocumentationController.h"
#include "dorvane/gui/DocumentationWindow.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/PackageTableModel.h"
#include "dorvane/gui/SettingsWindow.h"
#include "kestrum/AlertPresenter.h"
#include "kestrum/web/RvWebView.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include <cstdio>

using namespace dorvane;

namespace {

// The screen cut to the window, since sheets are windows of their own and a
// web page is drawn by the engine, not by the widget.
void saveScreen(const QWidget *window, const QString &file)
{
    const QRect frame = window->frameGeometry();
    const bool saved =
        QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(file);
    QApplication::exit(saved ? 0 : 1);
}

} // namespace

int main(int argc, char **argv)
{
    kestrum::prepareWebEngine();
    QApplication app(argc, argv);
    // Built beside the bundle, whose helper tool the window installs.
    if (!qEnvironmentVariableIsSet("DORVANE_BUNDLE_DIR"))
        qputenv("DORVANE_BUNDLE_DIR", QFile::encodeName(QApplication::applicationDirPath() + "/../Dorvane.app"));
    QApplication::setApplicationName(QStringLiteral("Dorvane"));
    QCommandLineParser parser;
    StartUp::addVolumeOptions(parser);
    const QCommandLineOption packageOption(QStringLiteral("package"), QStringLiteral("The package to uninstall."),
                                           QStringLiteral("ID"));
    parser.addOption(packageOption);
    const QCommandLineOption settingsOption(QStringLiteral("settings"), QStringLiteral("Picture the settings window."));
    parser.addOption(settingsOption);
    const QCommandLineOption documentationOption(QStringLiteral("documentation"),
                                                 QStringLiteral("Picture the documentation window."));
    parser.addOption(documentationOption);
    const QCommandLineOption undoOption(QStringLiteral("undo"), QStringLiteral("Picture the Logs menu's undo."));
    parser.addOption(undoOption);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Where the picture goes."));
    parser.process(app);
    QString error;
    if (parser.positionalArguments().size() != 1 || !StartUp::configureVolume(parser, &error)) {
        std::fprintf(stderr, "usage: docshots --root VOLUME --home HOME --package ID FILE %s\n", qPrintable(error));
        return 2;
    }
    const QString file = parser.positionalArguments().first();
    const QString identifier = parser.value(packageOption);
    kestrum::setAlertPresenter(std::make_shared<kestrum::ConsolePresenter>(true));
    StartUp::registerDefaults();

    AppDelegate delegate;
    delegate.window()->resize(1100, 720);
    delegate.window()->show();
    QObject::connect(&delegate, &AppDelegate::catalogueHandedOver, &delegate, [&] {
        if (parser.isSet(settingsOption)) {
            delegate.showSettings();
            QTimer::singleShot(500, &delegate, [&delegate, file] {
                QApplication::exit(delegate.settingsWindow()->grab().save(file) ? 0 : 1);
            });
            return;
        }
        if (parser.isSet(documentationOption)) {
            delegate.documentation().openDocumentation();
            DocumentationWindow *window = delegate.documentation().documentationWindow();
            window->resize(1000, 640);
            // Once the promotion page, or offline its shipped copy, is in.
            QObject::connect(window->smallPromotionWebView(), &QWebEngineView::loadFinished, &delegate,
                             [window, file](bool ok) {
                if (ok)
                    QTimer::singleShot(1000, window, [window, file] { saveScreen(window, file); });
            });
            return;
        }
        const QList<PackageRecord> &rows = delegate.tableModel()->packages();
        for (int row = 0; row < rows.size(); ++row) {
            if (rows.at(row).packageIdentifier() == identifier)
                delegate.window()->ui().tableView->selectRow(row);
        }
        if (delegate.selectedPackages().isEmpty()) {
            std::fprintf(stderr, "no listed package has the identifier %s\n", qPrintable(identifier));
            QApplication::exit(1);
            return;
        }
        delegate.uninstallPackage();
    }, Qt::SingleShotConnection);
    QObject::connect(&delegate, &AppDelegate::uninstallPanelShown, &delegate, &AppDelegate::continueUninstall);
    QObject::connect(&delegate, &AppDelegate::successPanelShown, &delegate, [&] {
        if (parser.isSet(undoOption)) {
            delegate.successDone();
            QMenu *menu = delegate.window()->ui().logfileMenu;
            delegate.window()->menuBar()->setActiveAction(menu->menuAction());
            menu->setActiveAction(menu->actions().last());
            QTimer::singleShot(500, &delegate, [&delegate, file] { saveScreen(delegate.window(), file); });
            return;
        }
        // A moment for the sheet to be drawn.
        QTimer::singleShot(500, &delegate, [&delegate, file] { saveScreen(delegate.window(), file); });
    });
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
