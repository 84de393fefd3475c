#include "platform/ProcessEnd.h"

#include "platform/UserDefaults.h"

#include <cstdio>

#include <unistd.h>

namespace platform {

void endProcess(int status)
{
    UserDefaults::standard().synchronize();
    std::fflush(nullptr);
    ::_exit(status);
}

} // namespace platform
