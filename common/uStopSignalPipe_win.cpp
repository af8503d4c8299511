#include "common/uStopSignalPipe.h"

// Windows sends no stop signals to a windowed program: the end of a session reaches the main
// window as a close, which takes the ordinary way out.
int InstallStopSignalPipe()
{
    return -1;
}
