// Mtxdump's console text while PNG files are encoded and written on worker threads: the
// text comes out exactly as one thread would print it, because what follows a file still
// being written waits for the end of that file's line.
#pragma once

#include "common/OrderedTasks.h"

#include <deque>
#include <functional>
#include <string>

class OrderedOutput {
public:
    // One worker writes each file at once, on this thread.
    explicit OrderedOutput(unsigned workers) : m_tasks(workers) {}
    OrderedOutput(const OrderedOutput&) = delete;
    OrderedOutput& operator=(const OrderedOutput&) = delete;

    // Prints to standard output now, or once every file deferred before it is written.
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Runs `write` on a worker. Its result goes to `finish`, which runs on this thread in the
    // order of the Defer calls, prints the rest of the file's line and returns false for a
    // failure. When every worker is busy, the oldest write is waited for first.
    void Defer(std::function<bool()> write, std::function<bool(bool)> finish);
    // Waits for every deferred write and prints all the text kept back.
    void Drain();
    // Some deferred file's `finish` returned false.
    bool failed() const { return m_failed; }

private:
    struct Deferred {
        std::function<bool(bool)> finish;
        bool written = false;
        std::string textAfter;  // printed after `finish`, before the next deferred file's
    };
    void FinishFirst();

    std::deque<Deferred> m_deferred;  // oldest first; a deque keeps each in place for its task
    bool m_finishing = false;         // a `finish` runs: its text goes straight out
    bool m_failed = false;
    OrderedTasks m_tasks;             // last, so that its threads stop before the rest goes
};
