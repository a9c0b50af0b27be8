// The worker pool behind OrderedTasks.
#include "common/OrderedTasks.h"

#include <cstdlib>
#include <utility>

unsigned DefaultWorkerCount()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

bool ParseWorkerCount(const char* text, unsigned& workers)
{
    if (text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value < 1 || value > kMaxWorkers)
        return false;
    workers = static_cast<unsigned>(value);
    return true;
}

OrderedTasks::OrderedTasks(unsigned workers) : m_workerCount(workers > 1 ? workers : 1)
{
    if (m_workerCount == 1)
        return;
    for (unsigned i = 0; i < m_workerCount; ++i)
        m_threads.emplace_back(&OrderedTasks::Work, this);
}

OrderedTasks::~OrderedTasks()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void OrderedTasks::Add(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(Task{std::move(task)});
    }
    m_changed.notify_all();
}

void OrderedTasks::FinishFirst()
{
    if (m_threads.empty()) {
        const std::function<void()> task = std::move(m_tasks.front().run);
        m_tasks.pop_front();
        task();
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_tasks.front().done; });
    m_tasks.pop_front();
    --m_started;
}

void OrderedTasks::Work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_started < m_tasks.size(); });
        if (m_stopping)
            return;
        Task& task = m_tasks[m_started++];
        lock.unlock();
        task.run();
        lock.lock();
        task.done = true;
        m_changed.notify_all();
    }
}
