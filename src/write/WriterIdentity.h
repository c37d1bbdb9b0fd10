#ifndef ICL_ICL_WRITERIDENTITY_H
#define ICL_ICL_WRITERIDENTITY_H

// Who a writer is, in a form every host can compare: the boot of the host
// it runs on, its process-id namespace (containers on one host share a boot
// but not their process ids) and its process id.
//
// Writers put it into the names of their temporary files and into their
// claims (WriterClaim.h), so that nothing another writer made is ever taken
// for one's own, and a leftover of a writer that died on this host is known
// as such at once: same boot, and no such process any more. A leftover from
// another host cannot be judged that way; only its age tells.

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>

namespace icl {

// Where this process's id means something: this host's boot as 32 hex
// digits (the kernel's random boot id) and "n" and the process-id
// namespace's number, read once per process. Where the boot id cannot be
// read, a random id drawn once per process, which no other process shares.
const std::string& processSpaceId();

// Runs `install` once per process, `state` (0 at first) saying how far that
// went; every caller returns only once it has run. Unlike call_once, it
// costs no system call.
template <typename Install>
void runOnce(std::atomic<int>& state, Install install) {
  int expected = 0;
  if (state.compare_exchange_strong(expected, 1)) {
    install();
    state.store(2);
  }
  while (state.load() != 2) std::this_thread::yield();
}

// This process's id, asked of the kernel once per process (a child forked
// asks again).
pid_t thisProcess();

// "<process space id>-<pid>" for this process.
std::string writerTag();

// "<writerTag()>-<n>", n counting this process's tags: the name of one of
// this writer's files (a temporary label, a claim) and the text of its claim,
// never formed twice by any writer on any host. The pid and n are written
// with ten digits each, so every tag of one host has one length: a read cut
// to an older size (a client's stale attributes) never looks like a tag.
std::string uniqueTag();

// Whether `tag` (a uniqueTag() or a writerTag()) was formed by this process.
bool tagOfThisProcess(const std::string& tag);

// True when `tag` names a writer of this process space whose process is
// gone. False
// for a live process, another host's writer, or a tag of another form.
bool tagOfDeadLocalWriter(const std::string& tag);

}  // namespace icl

#endif
