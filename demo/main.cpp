#include "DemoApp.h"

int main(int argc, char* argv[])
{
    return DemoApp::main(argc, argv);
}
