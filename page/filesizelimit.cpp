#include "page/filesizelimit.h"

#include <csignal>

namespace quendle {

void failWritesPastFileSizeLimit()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

} // namespace quendle
