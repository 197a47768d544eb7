// update: brings the installed files up to date from an update server.
//   update <server-list URL> auto
// Without a URL it ends at once; without "auto" the user picks the server.
#include "CUpdateApp.h"

int main(int argc, char** argv) { return CUpdateApp(argc, argv).Run(); }
