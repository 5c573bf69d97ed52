// The show's entry point: everything happens in showMain on this thread. The
// command line is not read. The media folder is looked up first, so the show
// finds its files wherever it was started from (a build tree, an installed
// copy, a desktop launcher whose working directory is the home folder).
#include "app/shell.h"
#include "platform/media_folder.h"

int main() {
    platform::setMessageBoxesEnabled(true);
    // Without media the show goes on as it does with missing files: the
    // missing module then ends it with its own message.
    platform::enterMediaFolder("tuhkalademo");
    return showMain();
}
