// Where the setup description file (pfmsetup.ini) lies: in the folder
// that is current when the program starts, the kit's own folder.
#ifndef PFMSETUP_SETUP_SETUP_FILE_H
#define PFMSETUP_SETUP_SETUP_FILE_H

#define SETUP_FILE_PATH_SIZE 2048

// The full path of the setup description file, formed once at start and
// passed to every read of the file.
extern char SetupFilePath[SETUP_FILE_PATH_SIZE];

// Forms SetupFilePath: the current directory with ".\pfmsetup.ini"
// appended. A current directory that cannot be read, or one too long for
// the name to fit, gives a path that names no file, so the setup
// description file counts as missing.
void BuildSetupFilePath(void);

#endif
