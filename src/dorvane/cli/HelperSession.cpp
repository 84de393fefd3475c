#include "dorvane/cli/HelperSession.h"

#include "dorvane/toolclient/DeleteHelper.h"
#include "kestrum/AlertPresenter.h"

#include <cstdio>

namespace dorvane {

void complain(const QString &text)
{
    std::fprintf(stderr, "dorvane: %s\n", qPrintable(text));
}

void agreeIfAsked(bool yes)
{
    if (yes)
        kestrum::setAlertPresenter(std::make_shared<kestrum::ConsolePresenter>(true));
}

std::unique_ptr<DeleteHelper> connectedHelper()
{
    if (const std::optional<HelperError> error = DeleteHelper::blessHelper()) {
        complain(QStringLiteral("the helper tool could not be installed: ") + error->description());
        return nullptr;
    }
    return std::make_unique<DeleteHelper>();
}

} // namespace dorvane
