#include "app/main_sequence.h"

int RunMainSequence(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    return 0;
}
