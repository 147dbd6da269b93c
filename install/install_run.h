// The installation run: the kit's soft fonts registered for the port of
// every installed printer whose driver is one of the kit's models, then the
// kit's TrueType substitution entries, then the news of the change sent to
// the running applications.
#ifndef PFMSETUP_INSTALL_INSTALL_RUN_H
#define PFMSETUP_INSTALL_INSTALL_RUN_H

#define MODEL_NAME_SIZE 260

// One printer model of the kit, in the order of Model1, Model2, ...
struct ModelEntry {
    char modelName[MODEL_NAME_SIZE];
    struct ModelEntry *next;
};

// The most model records the run holds (about 70 MB). A setup file that
// asks for more is treated as one whose model list cannot be allocated.
#define MAX_MODEL_RECORDS 262144

// Runs the whole installation; 1 when at least one printer port was
// registered and every change reached the system profile, else 0.
// SetupFilePath must have been formed.
int InstallPrinterFonts(void);

// Writes the soft-font section of one printer port: "PostScript," and the
// port without its trailing colon. 1 when every write succeeded.
int RegisterPortSoftFonts(const char *port);

// Copies the kit's TrueType substitution entries into the system profile.
// 1 when every write succeeded.
int CopyTrueTypeSubstitutions(void);

#endif
