#include "demo/DemoApp.h"

int main(int argc, char* argv[])
{
    return tavix::DemoApp::main(argc, argv);
}
