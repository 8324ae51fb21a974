#pragma once

#include "station_model.hpp"

namespace plovik {

// Marks an action's synchronous part, so that a refresh tick (a modal dialog spins the event
// loop) never runs in the middle of it.
class StationModel::SynchronousSection {
public:
    explicit SynchronousSection(StationModel& model)
        : m_model(model), m_outer(model.m_inSynchronousAction) {
        m_model.m_inSynchronousAction = true;
    }
    ~SynchronousSection() { m_model.m_inSynchronousAction = m_outer; }
    SynchronousSection(const SynchronousSection&) = delete;
    SynchronousSection& operator=(const SynchronousSection&) = delete;

private:
    StationModel& m_model;
    bool m_outer;
};

}  // namespace plovik
