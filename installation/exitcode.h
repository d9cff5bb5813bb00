#ifndef ORVANE_INSTALLATION_EXITCODE_H
#define ORVANE_INSTALLATION_EXITCODE_H

// The exit codes of all of the installation's programs. There is no 4.
namespace Installation {

enum ExitCode {
    Ok = 0,                   // the installer, the restart, the copy or the editor was started
    CannotEnterWorkDir = 1,   // the working directory cannot be made the current one
    CannotCreateWorkDir = 2,  // the working directory cannot be created
    CannotOpenErrorFile = 3,  // self-update: the error file cannot be opened for writing
    CannotWriteErrorFile = 5, // self-update: the error file cannot be written
    NoDisplay = 6,            // OrvanePaths: the window would have to be shown, but cannot be
    CannotStartInstaller = 7, // the installer cannot be started (missing, not executable, ...)
};

} // namespace Installation

#endif // ORVANE_INSTALLATION_EXITCODE_H
