#pragma once
// The two process-wide counters shared by the operator program's threads: the surplus counter
// (devices whose boot code step has not yet succeeded in a "program all" run) and the shared
// value (running demo-copy threads). Every change takes the counter lock and makes a single
// read-modify-write; the two readers read without the lock.
//
// The lock object itself lives for the whole process: Init/Free mark the span in which the
// program uses it. A call outside that span still changes the counter under the lock, so a
// program that gets the order wrong loses nothing and touches no freed memory.

#include "platform/export.h"

KESTREL_EXPORT int Init_Surplus_redboot_count(void);
KESTREL_EXPORT void Free_Surplus_redboot_count(void);
KESTREL_EXPORT int Get_Surplus_redboot_count(void);
KESTREL_EXPORT void Reset_Surplus_redboot_count(void);
KESTREL_EXPORT void Increase_Surplus_redboot_count(void);
KESTREL_EXPORT void Decrease_Surplus_redboot_count(void);
KESTREL_EXPORT void Reset_global_val(void);
KESTREL_EXPORT void Seset_global_val(int value);
KESTREL_EXPORT void Increase_global_val(void);
KESTREL_EXPORT void Decrease_global_val(void);
KESTREL_EXPORT int Getglobal_val(void);
