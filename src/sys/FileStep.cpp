#include "sys/FileStep.h"

namespace icl {

const char* fileStepText(FileStep step) {
  switch (step) {
    case FileStep::None:
      break;
    case FileStep::Creating:
      return "creating";
    case FileStep::Examining:
      return "examining";
    case FileStep::SettingOwner:
      return "setting the owner of";
    case FileStep::SettingGroup:
      return "setting the group of";
    case FileStep::SettingPermissions:
      return "setting the permissions of";
    case FileStep::Writing:
      return "writing";
    case FileStep::Syncing:
      return "syncing";
    case FileStep::Closing:
      return "closing";
    case FileStep::Renaming:
      return "renaming";
    case FileStep::OpeningDirectory:
      return "opening the directory";
    case FileStep::SyncingDirectory:
      return "syncing the directory";
    case FileStep::ClosingDirectory:
      return "closing the directory";
  }
  return "";
}

}  // namespace icl
