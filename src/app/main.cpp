#include "app/app.h"

int main(int argc, char** argv) { return orv::OrvanteMain(argc, argv); }
