#ifndef ORVANE_LAUNCHER_H
#define ORVANE_LAUNCHER_H

// The whole life of the Orvane process once its application object exists:
// prepare the process, then hand over to the installer or run the update.
// argc and argv are the ones the application object has seen.
int runLauncher(int argc, char **argv);

#endif // ORVANE_LAUNCHER_H
