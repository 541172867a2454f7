#pragma once

#include <QList>

#include <sys/types.h>

namespace quendle::cli::processtree {

// One process as /proc shows it.
struct Process
{
    pid_t pid = 0;
    pid_t parent = 0;
    bool zombie = false;
    unsigned long long started = 0; // clock ticks after boot, as /proc/PID/stat gives it
};

// Every process this one may see.
QList<Process> all();

// When the process started, in the ticks of Process::started; 0 when it cannot be read.
unsigned long long startOf(pid_t pid);

// `from` and every process whose line of parents in `processes` leads to it.
QList<Process> withDescendants(const QList<Process>& processes, pid_t from);

// Sends SIGKILL to that very process: through a pidfd held while the start time is checked, so
// that a pid reused meanwhile is never hit. Returns whether the signal went out.
bool kill(const Process& process);

} // namespace quendle::cli::processtree
