// Start-up: the entry point, the banner, the command line and the batch-copy mode.
#pragma once

namespace orv {

int OrvanteMain(int argc, char** argv);  // main.cpp is a thin shell over this
void PrintStartBanner();
// Fills ArgName/ArgCount from argv, echoes "[i]word" and prints the total-length line.
void TakeCommandLine(int argc, char** argv);
// Batch copy of ArgName[1..ArgCount-1] into ../S001; returns the exit code.
int RunBatchCopy();
void LoadInterfaceImages();

}  // namespace orv
