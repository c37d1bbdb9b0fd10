#ifndef ICL_ICL_FILESTEP_H
#define ICL_ICL_FILESTEP_H

// The step of a file operation whose call failed: what the durable replace
// (write/NewLabelFile.h) and the capability check's scratch file (ScratchFile.h)
// report with the call's errno, and log lines name in words.

namespace icl {

enum class FileStep {
  None,  // no call failed
  Creating,
  Examining,
  SettingOwner,
  SettingGroup,
  SettingPermissions,
  Writing,
  Syncing,
  Closing,
  Renaming,
  OpeningDirectory,
  SyncingDirectory,
  ClosingDirectory,
};

// The step as log lines name it, before the path it worked on: "creating",
// "setting the owner of", "syncing the directory", ...; "" for None.
const char* fileStepText(FileStep step);

}  // namespace icl

#endif
