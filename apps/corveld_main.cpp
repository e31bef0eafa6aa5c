// corveld: the FTP server with its built-in web file browser.
#include "service/CorveldEntry.h"

int main(int argc, char** argv) { return corvel::runCorveld(argc, argv); }
