#include "SampleHistory.h"

#include <algorithm>

SampleHistory::SampleHistory(qsizetype capacity)
    : m_capacity(std::max<qsizetype>(capacity, 1))
{
    m_values.reserve(m_capacity);
}

void SampleHistory::append(double value)
{
    // Screens hold copies of the list; dropping the head of a shared list copies it once,
    // a few hundred bytes a second.
    if (m_values.size() >= m_capacity)
        m_values.remove(0, m_values.size() - m_capacity + 1);
    m_values.append(value);
}
