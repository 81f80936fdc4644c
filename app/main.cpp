// Vorn: finds damaged JPEG files.

#include "app/main_sequence.h"

int main(int argc, char** argv)
{
    return RunMainSequence(argc, argv);
}
