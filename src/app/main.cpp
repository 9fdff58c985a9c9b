#include "app/tavix_flash_toolApp.h"

int main(int argc, char* argv[])
{
    return tavix_flash_toolApp::main(argc, argv);
}
