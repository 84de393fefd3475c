#include "dorvane/gui/ApplicationMain.h"
#include "kestrum/web/RvWebView.h"
#include "kestrum/widgets/Application.h"

int main(int argc, char *argv[])
{
    kestrum::prepareWebEngine();
    kestrum::Application app(argc, argv);
    return dorvane::ApplicationMain().run(app);
}
