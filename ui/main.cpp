// The workbench's entry point: everything happens in the application object.
#include "ui/TarnwickApp.h"

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
