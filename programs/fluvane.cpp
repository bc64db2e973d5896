// fluvane: the instrument on the desktop (see Classes/FluvaneHost.h).
#include "Classes/FluvaneHost.h"

int main(int argc, char** argv) { return FluvaneHost::main(argc, argv); }
