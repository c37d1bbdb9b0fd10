#ifndef ICL_TESTS_UNPRIVILEGED_H
#define ICL_TESTS_UNPRIVILEGED_H

#include <functional>

namespace icl {
namespace test {

// Runs `body` in a forked child that cannot bypass file permissions: as the
// caller when not root, otherwise as user and group 65534 (nobody), so that
// permission cases run under CI's root too. The files the child must reach
// need modes that let that user in. Returns the body's result (0 to 253),
// 254 when the child could not drop its privileges, or -1 when it died.
int runUnprivileged(const std::function<int()>& body);

// Runs `body` in a forked child and returns its exit status, or -1 if it died
// by a signal. The child leaves with _exit, skipping the parent's cleanup.
int runInChild(const std::function<int()>& body);

}  // namespace test
}  // namespace icl

#endif
