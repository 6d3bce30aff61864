// What newdev may change on the machine when it installs a staged driver
// package, noted in an install journal before it runs, so that a failed
// Plug and Play installation (or one killed meanwhile) is taken back: the
// destination files of the package's CopyFiles lists (a file that is there
// is kept beside itself first), the services it names that do not exist
// yet, and its copy in the system's INF folder.
#pragma once

#include "install_journal.h"

// 1 when everything was noted; 0 with the reason when the journal could
// not be written or an existing file could not be kept.
int NoteBeforeNewdev(const CStr& stagedInf, InstallJournal& journal);
