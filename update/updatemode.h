#ifndef ORVANE_UPDATEMODE_H
#define ORVANE_UPDATEMODE_H

#include "app/startup.h"

// The self-update mode, chosen by "-r": argv[2..argc-1] name installation
// files whose new versions wait in the working directory.
namespace Update {

// Runs the mode and returns the program's exit code.
int run(int argc, char **argv, const Startup::Context &context);

} // namespace Update

#endif // ORVANE_UPDATEMODE_H
