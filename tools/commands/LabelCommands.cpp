// check, update, remove and new: one controller, the expected identity, one
// operation.

#include <functional>
#include <optional>
#include <string>

#include "Commands.h"
#include "Feedback.h"
#include "ICLRoutines.h"
#include "ICLToolSupport.h"
#include "LabelBytes.h"

namespace icl {
namespace tool {
namespace {

// The name the controller will write beside the access path: --host, or
// the platform's answer.
std::string hostNameFor(const Invocation& inv) {
  return ICLToolHostName(inv.host ? inv.host->c_str() : nullptr);
}

std::string identityText(const Invocation& inv) {
  std::string text = format("pool %d, cache %d", *inv.pool, *inv.cache);
  if (inv.marker) text += format(", marker %lld", static_cast<long long>(*inv.marker));
  return text;
}

// After a mismatch the next question is what the label holds instead.
void describeLabel(const Invocation& inv, const std::string& host, Report& report) {
  ICLController reader(host.c_str(), inv.dir.c_str());
  if (reader.ReadDataFromICL() != 0) return;  // changed meanwhile: nothing sure to add
  ICLData found;
  reader.GetICLData(found);
  report.say(format("the label holds pool %d, cache %d, marker %lld", found.indexCachePoolID,
                    found.indexCacheID, static_cast<long long>(found.timeStampMarker)));
  report.values().addJson("label", JsonObject()
                                       .addInt("pool", found.indexCachePoolID)
                                       .addInt("cache", found.indexCacheID)
                                       .addInt("marker", found.timeStampMarker)
                                       .str());
}

std::string changeText(const LabelSnapshot& before, const LabelSnapshot& after,
                       std::optional<bool> changed) {
  if (changed) return *changed ? " (label changed)" : " (label unchanged)";
  const bool beforeKnown = before.known;
  return format(" (whether the label changed is unknown: it could not be read %s: %s)",
                beforeKnown ? "after" : "before", (beforeKnown ? after : before).why.c_str());
}

// What a command did, told by whether the label's bytes changed: nothing
// when it cannot be told (the label could not be read before or after).
using DoneText = std::function<std::string(std::optional<bool> changed)>;

// Runs `operation` and says whether the label's bytes changed: observed,
// not inferred, so a rewrite that leaves the label as it was (or a change
// by another host at the same moment) reads as what it is.
void runLabelCommand(const Invocation& inv, const std::string& host, Report& report,
                     const std::function<int(ICLController&)>& operation, const DoneText& done) {
  ICLController controller(host.c_str(), inv.dir.c_str());
  controller.SetICLData(ICLData{*inv.pool, *inv.cache, inv.marker.value_or(0), *inv.path});
  if (inv.description) controller.SetDescription(inv.description->c_str());

  JsonObject& values = report.values();
  values.addString("host", host).addInt("pool", *inv.pool).addInt("cache", *inv.cache);
  if (inv.marker) {
    values.addInt("marker", *inv.marker);
  } else {
    values.addNull("marker");
  }
  values.addInt("path", *inv.path);

  const LabelSnapshot before = labelSnapshot(inv.dir);
  int result;
  {
    LockWaitNotice notice(inv);
    result = operation(controller);
  }
  const LabelSnapshot after = labelSnapshot(inv.dir);
  const std::optional<bool> changed = labelChanged(before, after);
  if (changed) {
    values.addBool("changed", *changed);
  } else {
    values.addNull("changed");
  }
  if (result == 0) {
    report.say(inv.dir + ": " + done(changed) + changeText(before, after, changed));
    return;
  }
  report.fail(controller);
  if (controller.GetICLError() == ICL_ERROR_MISMATCH) {
    report.say("expected " + identityText(inv));
    describeLabel(inv, host, report);
  }
}

// The same words whatever the label's bytes did.
DoneText always(const std::string& text) {
  return [text](std::optional<bool>) { return text; };
}

}  // namespace

void runCheck(const Invocation& inv, Report& report, LogLines&) {
  runLabelCommand(
      inv, hostNameFor(inv), report, [](ICLController& c) { return c.CheckICL(); },
      always(format("the label matches %s and lists access path %d", identityText(inv).c_str(),
                    *inv.path)));
}

void runUpdate(const Invocation& inv, Report& report, LogLines&) {
  const std::string host = hostNameFor(inv);
  const bool allowNew = inv.allowNew;
  runLabelCommand(
      inv, host, report, [allowNew](ICLController& c) { return c.UpdateICL(allowNew); },
      always(format("the label lists access path %d for host %s (%s)", *inv.path, host.c_str(),
                    identityText(inv).c_str())));
}

// Removing a listed line changes the label's bytes; a remove that leaves
// them as they were found the access path not listed.
void runRemove(const Invocation& inv, Report& report, LogLines&) {
  const int32_t path = *inv.path;
  const std::string identity = identityText(inv);
  runLabelCommand(
      inv, hostNameFor(inv), report, [](ICLController& c) { return c.RemoveAccessPathIDfromICL(); },
      [path, identity](std::optional<bool> changed) {
        const char* how = !changed ? "is not" : *changed ? "is no longer" : "was not";
        return format("access path %d %s listed (%s)", path, how, identity.c_str());
      });
}

void runNew(const Invocation& inv, Report& report, LogLines&) {
  const std::string host = hostNameFor(inv);
  runLabelCommand(
      inv, host, report, [](ICLController& c) { return c.WriteNewICL(); },
      always(format("new label written: %s, access path %d for host %s", identityText(inv).c_str(),
                    *inv.path, host.c_str())));
}

}  // namespace tool
}  // namespace icl
