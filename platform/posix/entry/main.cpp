// The process entry: hands the argument vector to the runtime's start-up.
#include "core/startup/startup.h"

int main(int argc, char** argv)
{
    return CoreMain(argc, argv);
}
