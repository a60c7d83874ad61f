// Failing chosen file-system calls for the fault tests. The shim library
// defines open, write, fsync, rename and their relatives ahead of the C
// library's: linked into a test program (before the C library) or preloaded
// into a child (LD_PRELOAD), it makes the calls of one step fail with one
// errno for files whose path starts with a given prefix, and passes every
// other call through. Nothing is failed until a fault is armed.
//
// A child is armed through its environment:
//   QALV_FAULT=STEP:ERRNO:PREFIX    STEP is open, write, fsync or rename
//   QALV_FAULT_REPORT=FILE          one byte is appended for every failed call
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The steps of writing a file: opening or creating it (a temporary beside it
// included), writing its bytes, flushing it to the disk, and giving it its
// name (rename, or the link that names an unnamed temporary file).
enum QalvFaultStep { kQalvFaultOpen, kQalvFaultWrite, kQalvFaultSync, kQalvFaultRename };

// Fails every call of `step` on a path starting with `prefix` (for write and
// fsync: on a descriptor opened on such a path, or an unnamed temporary file
// made in its folder) with `error`. Replaces any fault armed before.
void qalv_fault_arm(enum QalvFaultStep step, int error, const char* prefix);
void qalv_fault_disarm(void);
// How many calls have been failed since the last arm.
int qalv_fault_fired(void);

#ifdef __cplusplus
}
#endif
