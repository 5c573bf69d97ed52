// The show's entry point: everything happens in showMain on this thread. The
// command line is not read.
#include "app/shell.h"

int main() {
    platform::setMessageBoxesEnabled(true);
    return showMain();
}
