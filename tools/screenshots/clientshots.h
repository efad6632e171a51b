#pragma once

#include <QDir>
#include <functional>

// Runs the client half of the screenshots against the relay server on the
// given ports and captures the client windows into `out`; `whileConnected`
// runs once both clients are still connected, after their pictures.
void takeClientShots(const QDir& out, quint16 drawingPort, quint16 textPort,
                     const std::function<void()>& whileConnected);
