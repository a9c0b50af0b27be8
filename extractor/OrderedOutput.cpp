// The ordered console behind Mtxdump's parallel PNG writing.
#include "extractor/OrderedOutput.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

void OrderedOutput::Print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (m_deferred.empty() || m_finishing) {
        std::vprintf(format, args);
        va_end(args);
        return;
    }
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        std::vector<char> text(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        m_deferred.back().textAfter.append(text.data(), static_cast<size_t>(length));
    }
    va_end(args);
}

void OrderedOutput::Defer(std::function<bool()> write, std::function<bool(bool)> finish)
{
    while (m_tasks.Count() >= m_tasks.Workers())
        FinishFirst();
    Deferred& slot = m_deferred.emplace_back();
    slot.finish = std::move(finish);
    m_tasks.Add([&slot, write = std::move(write)] { slot.written = write(); });
    if (m_tasks.Workers() == 1)
        FinishFirst();
}

void OrderedOutput::Drain()
{
    while (!m_deferred.empty())
        FinishFirst();
}

void OrderedOutput::FinishFirst()
{
    m_tasks.FinishFirst();
    const Deferred first = std::move(m_deferred.front());
    m_deferred.pop_front();
    m_finishing = true;
    if (!first.finish(first.written))
        m_failed = true;
    m_finishing = false;
    std::fputs(first.textAfter.c_str(), stdout);
}
