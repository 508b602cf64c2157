#pragma once

#include <QList>

// The last `capacity` samples of one figure, oldest first, for the charts. It starts
// empty and grows to its capacity, so a chart never draws seconds nobody sampled as
// zeros.
class SampleHistory
{
public:
    explicit SampleHistory(qsizetype capacity);

    void append(double value);
    const QList<double> &values() const { return m_values; }
    qsizetype capacity() const { return m_capacity; }

private:
    qsizetype m_capacity;
    QList<double> m_values;
};
