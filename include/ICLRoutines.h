#ifndef ICL_ICLROUTINES_H
#define ICL_ICLROUTINES_H

// Index cache labels.
//
// An index cache directory carries a label, "icl_label.txt", that names the
// index cache pool and the index cache owning the directory, a timestamp
// marker, and one line per access path using it. ICLController handles that
// label for one directory on behalf of one caller (one host, one access
// path):
//
//   ICLController ctl("hostA", "/srv/ic/cache7");
//   ICLData expected = {3, 7, 77, 12};  // pool, cache, marker, access path
//   ctl.SetICLData(expected);
//   if (ctl.CheckICL() != 0) {
//     int event = ctl.convertICLErrorToEvEventCode(ctl.GetICLError());
//     ...
//   }
//
// Every operation answers 0 or -1 and leaves the reason of a failure in the
// controller (GetICLError); none throws. A controller is used by one thread
// at a time; separate controllers share nothing in memory.
//
// What a caller can rely on
// -------------------------
//
// Reading. ReadDataFromICL, InternalReadDataFromICL, and CheckICL while it
// has nothing to add, take no lock, never wait for one and never write. Only
// "does not exist" (ENOENT, ENOTDIR) makes a label absent
// (ICL_ERROR_FILE_NOT_FOUND). A label that cannot be examined, opened or read
// for any other reason (EIO, EACCES, ESTALE, ...) fails with
// ICL_ERROR_FILE_READ and an Error line with the reason. A label larger than
// the 65,000 bytes a reader accepts, or one without a required key, fails
// with ICL_ERROR_FILE_INVALID.
//
// Writing. WriteNewICL, UpdateICL, RemoveAccessPathIDfromICL, CheckICL when
// it adds the caller's access path, and UpdateICLInternal replace the label
// whole: the new text goes to a temporary file beside it, is synced, and is
// renamed over the label; then the directory is synced. Readers see the old
// label or the new one, never a partial one. Each writer's temporary file is
// its own ("icl_label.txt.tmp-<writer>-<n>", created exclusively, a name no
// other writer on any host forms); a writer never touches another's, but
// removes leftovers of writers that are gone: one of this host whose process
// has ended, any other once unmodified for 15 minutes by the storage's own
// clock (compared with the writer's new file, never with this host's
// clock). It looks for them where a claim had to be taken over, and
// otherwise in about one change in 64: no change lists the directory as a
// rule.
//  - UpdateICL, RemoveAccessPathIDfromICL and CheckICL read the label afresh
//    under the writers' lock and claim (Locking, below). Just before its
//    rename a writer asks again whether the claim is still its own and
//    whether the label is still the file it read: the same file and size
//    (and, on a local file system, modification time) by name; where a fresh
//    directory listing is the server's word, as on MooseFS, also the inode
//    it gives, which no cache of names answers. If not, it reads the label
//    again and redoes its change on it, three times at most, then fails with
//    ICL_ERROR_FILE_LOCK and an Error line. The claim is judged by the tag
//    it holds, never by inode numbers, so this holds on sshfs too, whose
//    inode numbers are per mount; the look by name holds wherever inode
//    numbers are the server's.
//  - A writer never answers 0 for a label it replaced after it had lost its
//    turn: after the rename it reads the claim once more, and if it is no
//    longer its own (or cannot be read) it answers -1 with
//    ICL_ERROR_FILE_WRITE and the Error line "Index cache label [...] was
//    replaced, but this writer no longer held the writers' lock and claim
//    when it did, or could not tell that it still did: ...". What remains
//    possible: a writer paused for longer than a claim may stand unchanged
//    (10 s) between its last look and the moment its rename lands can undo
//    the changes other writers made in that time; it then says so as above.
//    Where locks work and no claim is taken (a local file system), nothing
//    but a writer that ignores the lock can do that. Nothing tears the label.
//  - UpdateICL(true) writes a new label only where none is, or where the
//    label was read whole but lacks a required key. A label that cannot be
//    read, or is too large, is never replaced by a new one: that would drop
//    every access path it lists (ICL_ERROR_FILE_INVALID for a large one,
//    whatever allowNewICL says). WriteNewICL replaces whatever stands there.
//  - A change that would make the label larger than a reader accepts is
//    refused (ICL_ERROR_FILE_WRITE, Error line "Index cache label [...] is
//    full: ..."), so no writer produces a label a reader refuses.
//  - A change that changes no byte (removing an access path the label does
//    not list, refreshing a line that is already as asked) writes nothing
//    (same file, same time) but syncs the label and its directory before it
//    answers 0, so 0 always means on disk.
//  - A rewrite keeps the label's permission bits, owner and group, taken
//    from the descriptor the label was read through. A process refused a
//    change of owner (EPERM: an unprivileged one) writes the label as its
//    own, with the label's group where it may; any other failure to read or
//    set them fails the rewrite. A new label gets 0666 less the umask.
//  - Caller text (host name, description) never starts a line of its own,
//    and a controller marker of 0 never replaces the label's marker.
//  - A load reads the label to its end whatever its size said, and reads it
//    again when it changed while being read (three times, then
//    ICL_ERROR_FILE_READ): a cut text is never taken for the label.
//
// Error handling: what is on disk after each kind of failure
// ----------------------------------------------------------
//
//  - 0: the label as asked, durable.
//  - -1 with ICL_ERROR_EMPTY_PATH, ICL_ERROR_PATH_NOT_FOUND,
//    ICL_ERROR_FILE_NOT_FOUND, ICL_ERROR_FILE_READ, ICL_ERROR_FILE_INVALID,
//    ICL_ERROR_MISMATCH, ICL_ERROR_NEW_LABEL_NOT_ALLOWED, ICL_ERROR_FILE_LOCK
//    or ICL_ERROR_OUT_OF_MEMORY, and ICL_ERROR_FILE_WRITE from any step up to
//    and including the rename (creating, writing, syncing or closing the
//    temporary file, giving it the label's attributes, the size refusal):
//    the label byte for byte as it was.
//  - -1 with ICL_ERROR_FILE_WRITE and an Error line "Index cache label [...]
//    was replaced, but syncing the directory [...] failed" (or opening or
//    closing it), or "[...] already holds this change, but syncing [...]
//    failed": the NEW label is in place, but a power failure may still bring
//    back the old one. Retrying the same change answers 0 only once it is
//    on disk.
//  - -1 with ICL_ERROR_FILE_WRITE and an Error line "Index cache label [...]
//    was replaced, but this writer no longer held the writers' lock and
//    claim when it did, ...": the NEW label is in place, and changes other
//    writers made while this one had lost its turn may be missing from it.
//  - A directory that cannot be examined (stat fails with EIO, EACCES,
//    ESTALE, ENOTCONN, ...) is ICL_ERROR_FILE_READ with an Error line naming
//    the call and the reason, never "not found".
//  - None of the operations throws: memory running out answers -1 with
//    ICL_ERROR_OUT_OF_MEMORY, and a host log sink that throws ends the
//    operation at that line with -1 (the label old or new, all released).
//  - A temporary file is left only where removing it failed too, or when the
//    writer was killed; the sweep above removes it.
//  - canFilesBeCreatedInDirectory: the directories it created stay; its
//    scratch file "test_rdwrite.txt.<node>.<pid>.<n>" (a name of its own,
//    see the operation) is removed on success and after a failure; only
//    where that removal fails is it left (an Error line names it). One that
//    a killed check left stays too: no check removes a file it did not
//    create. It never writes, creates or removes the label.
//
// Locking. Writers take an exclusive lock on "icl_label.lock" beside the
// label. Where the lock may not reach every writer, they also take the
// claim "icl_label.claim": a file created exclusively, which every network
// file system decides at the server, holding a tag unique to the writer and
// the change, so that two writers never both replace the label even where
// locks do not reach other hosts (bind or FUSE mounts with local locks such
// as bindfs and sshfs, NFS with local_lock) or a partition took a lock away.
// The claim is taken on shared storage (see below), and wherever the file
// system refuses record locks (ENOLCK, EINVAL, EOPNOTSUPP, ENOSYS: then the
// claim alone keeps writers apart; a Debug line says so); never on a local
// file system whose locks work, where a leftover claim is ignored. A claim
// found standing is waited for, whatever the errno of the failed create; it
// is taken over only as stale: its writer, on this host, has ended; it is a
// leftover of this very process; or this writer watched that very claim
// (same tag, size and change time) stand unchanged for 10 s (1 s while
// still empty). No rule compares this host's clock with a file's time. A
// take-over removes only the claim it judged. A writer waits at most 30
// seconds for the lock and the claim together, then fails with
// ICL_ERROR_FILE_LOCK and an Error line that says what it waited for: the
// lock, or a claim that stood unchanged (its writer may be gone), or claims
// of live writers in turn (and, if this writer held the lock meanwhile, that
// the file system does not pass locks between its clients); tags read from
// the file are escaped. Waits back off to 100 ms with jitter, so a waiter
// asks about ten times a second. Operator tools may change the limit and
// hear of the waits (ICLToolSupport.h); a limit too large for the clock
// means none. One lock request on a network file system that cannot reach
// its server can take as long as that file system's own timeout: the wait
// can overrun by that much. The lock belongs to the open file, so threads of
// one process exclude each other too, and the kernel drops it when its
// holder dies; a child forked while it is held drops its copy at once. Do
// not remove "icl_label.lock". Where this process cannot create or open
// the lock file and could not write the directory either (a read-only file
// system, a directory of another user), it goes on unlocked: it can change
// nothing, but it can read, and a change that changes nothing succeeds.
// Where it may write the directory (asked with its effective ids) but not
// open an existing lock file, it fails with ICL_ERROR_FILE_LOCK rather than
// change the label unlocked. A new lock file takes the directory's group and
// its permission bits less the execute bits (0755: 0644, 0775: 0664, 0777:
// 0666), whatever the umask.
//
// Shared storage. On FUSE, NFS, SMB, Ceph and other file systems several
// hosts mount (statfs tells), a name this host looked up may still lead to a
// label another host has since replaced. So a writer holding the lock first
// makes the client look the label's name up at the server and, where a
// listing is the server's word (MooseFS), waits (1.5 s at most) until the
// name leads to the file the directory lists; if it still does not, the change fails with
// ICL_ERROR_FILE_READ and an Error line (a mount that caches names). A load that meets a replace
// (ESTALE, a label missing by name that the directory still lists, or a failure after which the
// label reads again) loads it again by name, at most 10 times within 526 ms, each time with a Debug
// line, and then fails as it would have (a writer, which also looked the name up, pauses about 1.05
// s in all before it fails on a lasting ESTALE); a label that is simply missing costs one directory
// listing. The first writer in a process that meets shared storage writes a Debug line naming the
// mount's type and what the guarantees need of it. Whether a directory is on shared storage, and
// on which mount, is looked up once per directory and thread (again after a minute). The README
// has a table of the file systems measured. Nothing of this happens on local file systems. Every
// bound here is stated once, in the library's sys/Backoff.h.
//
// Log texts kept word for word
// ----------------------------
//
// Hosts and operators match the library's log lines, so the lines older
// versions wrote keep their words, levels and function names wherever their
// situation still arises, odd ones included; so do the lines quoted here:
//  - Each line carries its operation's qualified name as its function
//    ("ICLController::CheckICL"), but "fixPath" is bare and
//    "ICLController::UpdateICLInternal()" has parentheses. A rewrite of the
//    label logs under that name whichever operation asked for it, as a new
//    label logs under "ICLController::WriteNewICL", the label's load under
//    "ICLController::InternalReadDataFromICL", and the reader under
//    "ZUPITextFileOpen::reloadFile", its constructor's load included.
//  - "fopen() failed to open the file for writing. [%s] Index cache label
//    could not be written." when a new label or the capability check's
//    scratch file cannot be created, and "fopen() failed to open the file for
//    updating. [%s] Index cache label could not be updated." when a rewrite's
//    temporary file cannot: no fopen runs. "Unable to close the index cache
//    label file!" when a rewrite's temporary file does not close.
//  - From the capability check: "fopen failed to open the file for writing.
//    [%s] ..." (Debug: the test sentence did not reach the file whole),
//    "fopen() failed to open the test file for reading. [%s] ...", "open
//    failed to open the test file for read/write to do the file lock test.
//    File [%s] " and "fopen failed to open the existing ICL file for
//    writing. ICL file: [%s] " (each with its blank before the end, both
//    Debug), "fcntl ()failed to establish a file lock. File [%s]", and
//    "Error [%d] returned while checking for file chown capabilities by
//    stetting GUID [%d] and UID [%d] for [%s]."
//  - "ICL file is not opened. Error code: [%d]." with the TICLError value,
//    not the reader's code (at Debug for a missing label where UpdateICL(true)
//    then writes a new one: a success logs no Error); "Index cache label file does not contain all
//    the required parameters, and is thus invalid. Bitmask = [%d]"; the "ICL_LABEL mismatch.
//    Expected ..." lines (Debug from verifyICL, Error from UpdateICL); "Updating previous time
//    stamp marker: [%ld] to [%ld]", an Error line for no failure; "About to remove
//    IndexCacheAccessPathID
//    [%d] from  IndexCacheID [%d] in IndexPool [%d]." with two blanks.
//  - The reader's lines (ZUPIFileOpen.h), such as "fopen() failed to open the
//    file [%s]." where open(2) failed.
// Lines added since say more (the failed step, its path and strerror); new
// detail goes into new lines, never into the old ones.

#include <stdint.h>

#include <string>

#include "EvEvent.h"
#include "ICLExport.h"

class ZUPITextFileOpen;

// The identity a label records. 0 in a field means unset.
struct ICLData {
  int32_t indexCachePoolID;
  int32_t indexCacheID;
  int64_t timeStampMarker;
  // In the controller's own record: the caller's access path. In a record
  // read from a label: the caller's access path if the label lists it, else 0.
  int32_t accessPathID;
};

// The reason of the last failure. convertICLErrorToEvEventCode maps each
// value to the product's event code.
enum TICLError : int32_t {
  ICL_ERROR_NONE = 0,
  ICL_ERROR_RESERVED_1 = 1,
  ICL_ERROR_RESERVED_2 = 2,
  ICL_ERROR_PATH_NOT_FOUND = 3,          // the directory is not an existing directory
  ICL_ERROR_EMPTY_PATH = 4,              // no usable directory was given
  ICL_ERROR_FILE_NOT_FOUND = 5,          // the label file does not exist
  ICL_ERROR_FILE_READ = 6,               // the label could not be loaded
  ICL_ERROR_FILE_INVALID = 7,            // a required key is missing, or the label is too large
  ICL_ERROR_MISMATCH = 8,                // the label's identity differs from the expected one
  ICL_ERROR_OUT_OF_MEMORY = 9,           // the reader object could not be allocated
  ICL_ERROR_FILE_WRITE = 10,             // a label or test file could not be written
  ICL_ERROR_NEW_LABEL_NOT_ALLOWED = 11,  // a new label is needed but was not allowed
  ICL_ERROR_FILE_LOCK = 12,              // a file lock could not be taken
  ICL_ERROR_LOCK_NOT_SUPPORTED = 13,     // file locks are not supported in the directory
  ICL_ERROR_CHMOD = 14,                  // a test file's permissions could not be changed
  ICL_ERROR_CHOWN = 15,                  // a test file's owner could not be read or changed
};

// What a label rewrite does with the caller's access path line.
enum TUpdateMode : int32_t {
  ICL_UPDATE_ADD = 0,     // stamp the marker, add or refresh the caller's line
  ICL_UPDATE_REMOVE = 1,  // drop the caller's line, change nothing else
};

class ICL_API ICLController : public EvEvent {
 public:
  // `hostName` null or "" asks the platform for this host's client name; a
  // longer one than 255 characters is cut. `iclLocation` is the index cache
  // directory (backslashes allowed); a null one, or one longer than 255
  // characters, is refused with an Error line and treated as empty, so every
  // operation fails with ICL_ERROR_EMPTY_PATH rather than act on a cut path.
  // The auxiliary texts are stored for the caller (at most 1023 and 2047
  // characters; a null or longer one is stored empty with an Error line).
  ICLController(const char* hostName, const char* iclLocation, const char* auxText1,
                const char* auxText2);
  ICLController(const char* hostName, const char* iclLocation);
  ~ICLController();
  ICLController(const ICLController&) = delete;
  ICLController& operator=(const ICLController&) = delete;

  // Puts every field but the location and the auxiliary texts into its
  // starting state and fills the host name (see the constructors).
  void Init(const char* hostName);

  // Tells whether iclLocation names an existing directory (following links).
  // 0 with `exists` false, setting no error, when it is missing (ENOENT,
  // ENOTDIR) or no directory. -1 for an empty location
  // (ICL_ERROR_EMPTY_PATH), or one that cannot be examined: stat fails with
  // EACCES, EIO, ESTALE, ... (ICL_ERROR_FILE_READ, and an Error line "Could
  // not examine the index cache directory [...]: stat() failed: [reason]").
  int DoesPathExist(bool& exists);
  // Forms the label's path from iclLocation. -1 when DoesPathExist fails
  // (its error code), or with ICL_ERROR_PATH_NOT_FOUND when the directory
  // is not there.
  int ConstructICLPath();

  int SetICLData(ICLData data);   // always 0
  int GetICLData(ICLData& data);  // always 0
  // The event code of `error`; -1 for a value outside the enumeration.
  int convertICLErrorToEvEventCode(TICLError error);

  TICLError GetICLError() const { return iclError; }
  // A description for the next new label; not copied, so it must outlive
  // the write. Null restores the line that names the cache's number.
  void SetDescription(const char* text) { description = text; }

  // --- Reading a label ---------------------------------------------------
  // Scans `file` from its first line into `data`: pool, cache and marker,
  // and accessPathID set to this controller's own when the label lists it.
  // -1 with ICL_ERROR_FILE_INVALID when a required key is missing.
  int extractICLInfoFromFile(ICLData& data, ZUPITextFileOpen& file);
  // Forms the path, loads the label into a new reader held by the controller
  // and extracts it into `data` (left unchanged on failure).
  int InternalReadDataFromICL(ICLData& data);
  // Clears the error and the identity, then reads the label's identity into
  // the controller (GetICLData); accessPathID stays 0.
  int ReadDataFromICL();
  // True when pool and cache (and the marker, if asked) agree; each
  // difference is logged. Does not touch the error.
  bool verifyICL(ICLData expected, ICLData found, bool compareTimeStampMarker);

  // --- Writing and updating a label (see the opening of this header) -----
  // Writes a new label for the identity set with SetICLData (all four
  // values non-zero), listing only the caller's access path.
  int WriteNewICL();
  // Rewrites the label from the text the last read on this controller
  // loaded: ICL_UPDATE_ADD stamps the controller's marker (unless it is 0)
  // and adds or refreshes the caller's access path line; ICL_UPDATE_REMOVE
  // drops that line. Takes the writers' lock but does not read the label's
  // lines again: a change made since that read is overwritten, so callers
  // normally use the operations below, which read under the lock. The owner
  // and mode come from the label as it stands (ICL_ERROR_FILE_READ when it
  // cannot be read; a label that vanished is written anew).
  int UpdateICLInternal(TUpdateMode mode);
  // Reads and checks the label, then adds the caller's access path; writes
  // a new label when there is none or it is invalid, if allowed.
  int UpdateICL(bool allowNewICL);
  // Reads and checks the label, then removes the caller's access path.
  int RemoveAccessPathIDfromICL();

  // --- Checking a label --------------------------------------------------
  // Reads the label, compares pool and cache (and the marker when it is not
  // 0), and adds the caller's access path when the label does not list it.
  int CheckICL();

  // --- Directory preparation and capability check ------------------------
  // Rewrites the absolute `path` in place: backslashes become slashes, runs
  // of separators one slash, "." and ".." are resolved where a separator
  // follows them; never longer than before. A path that does not start with
  // a separator is left as it is and answers 0x23000180 (an event code) with
  // an Error line; 0 otherwise.
  int fixPath(char* path);
  // Puts `path` in canonical form in place (fixPath) and creates every
  // missing directory of it, parents first (mode 0777 less the umask); a
  // directory another process creates meanwhile counts as created. -1 with
  // an Error line for a null or relative path or a failed stat or mkdir;
  // directories created before a failure stay. Sets no error code.
  int CreateDirRecursive(char* path);
  // Creates iclLocation when it is missing, then proves on a scratch file
  // there that files can be created, written, read back, opened for reading
  // and writing, record-locked, re-owned, re-moded and removed, and that an
  // existing label can be opened for update. Any number of hosts and
  // processes may check one directory at once, each with the true answer:
  // each check creates its own scratch file exclusively, named
  // "test_rdwrite.txt.<kernel node name>.<pid>.<counter>", and opens, locks,
  // re-owns, re-modes or removes no other file (not another user's plain
  // "test_rdwrite.txt" either). Nothing in it waits for another process: the
  // lock is tried once. -1 with the failing step's code and Error lines
  // that say why (the failed call and its errno, where a call failed):
  //  - ICL_ERROR_EMPTY_PATH: no location;
  //  - ICL_ERROR_PATH_NOT_FOUND: a relative location that does not exist,
  //    or a file along the path;
  //  - ICL_ERROR_FILE_READ: a directory along the path or the label could
  //    not be examined (stat);
  //  - ICL_ERROR_FILE_WRITE: a missing directory could not be created
  //    (mkdir); the scratch file could not be created, written, closed, read
  //    back, reopened or removed; the label could not be opened for update,
  //    or is larger than a reader accepts (the Debug line "fopen failed to
  //    open the existing ICL file for writing. ICL file: [%s] " first);
  //  - ICL_ERROR_LOCK_NOT_SUPPORTED, ICL_ERROR_FILE_LOCK, ICL_ERROR_CHOWN,
  //    ICL_ERROR_CHMOD: the lock, owner or mode was refused.
  // What it leaves on disk: see the opening of this header.
  int canFilesBeCreatedInDirectory();

 private:
  char iclLocation[256];
  std::string iclPath;
  char auxText1[1024];
  char auxText2[2048];
  ICLData iclData;
  TICLError iclError;
  ZUPITextFileOpen* iclFile;  // owned; the label as last loaded
  char hostName[256];
  const char* description;  // not owned

  // The library's own steps reach the fields through this, and only this.
  friend struct ICLControllerAccess;
};

// A copy of `path` with every backslash turned into a slash; nothing else
// is normalised. A null path gives the empty string.
ICL_API std::string convertSlashes(const char* path);

#endif
