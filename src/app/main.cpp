#include "app/tavix_flash_toolApp.h"

int main(int argc, char* argv[])
{
    return tavix::tavix_flash_toolApp::main(argc, argv);
}
