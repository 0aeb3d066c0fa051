// Start-up and shutdown of the runtime. For now the player only announces
// itself; the applet loader and the libraries are opened here as they land.
#include "core/startup.h"

#include <cstdio>

int CoreMain(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    std::printf("QuillmerePlayer 6.1 [Linux]\n");
    return 0;
}
