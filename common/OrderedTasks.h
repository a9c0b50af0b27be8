// Work spread over a few threads with its results taken back in the order it was given:
// the tools decode and encode images in parallel while their console text and their
// files stay exactly as one thread makes them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The most worker threads a "+jobs N" may ask for.
constexpr unsigned kMaxWorkers = 64;

// One worker per core; 1 when the core count is unknown.
unsigned DefaultWorkerCount();

// A worker count as given after "+jobs": a whole number from 1 to kMaxWorkers, nothing
// else. False, `workers` unchanged, otherwise.
bool ParseWorkerCount(const char* text, unsigned& workers);

// Tasks run on `workers` threads, oldest first. With one worker there is no thread: a task
// runs when FinishFirst asks for it, so a one-worker run is the plain sequential one.
// Tasks must not throw; what they produce they leave where their caller finds it.
class OrderedTasks {
public:
    explicit OrderedTasks(unsigned workers);
    // Waits for the tasks that are running; tasks not yet started never run.
    ~OrderedTasks();
    OrderedTasks(const OrderedTasks&) = delete;
    OrderedTasks& operator=(const OrderedTasks&) = delete;

    void Add(std::function<void()> task);
    // Waits until the oldest task added and not yet finished has run, and forgets it.
    void FinishFirst();
    // Tasks added and not yet finished by FinishFirst.
    size_t Count() const { return m_tasks.size(); }
    unsigned Workers() const { return m_workerCount; }

private:
    struct Task {
        std::function<void()> run;
        bool done = false;
    };
    void Work();

    const unsigned m_workerCount;
    std::deque<Task> m_tasks;  // oldest first; a deque keeps running tasks in place as it grows
    size_t m_started = 0;      // tasks at the front that a worker has taken
    bool m_stopping = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::thread> m_threads;
};
