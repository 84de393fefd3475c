#include "dorvane/gui/ApplicationMain.h"
#include "kestrum/web/RvWebView.h"
#include "kestrum/widgets/Application.h"
#include "platform/Memory.h"

int main(int argc, char *argv[])
{
    platform::keepFreedMemoryForReuse();
    kestrum::prepareWebEngine();
    kestrum::Application app(argc, argv);
    return dorvane::ApplicationMain().run(app);
}
