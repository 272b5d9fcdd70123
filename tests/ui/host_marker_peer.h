#pragma once
// What the host marker's tests count inside it, kept out of its public surface.

#include "ui/host_marker.h"

class CHostMarkerTestPeer {
public:
    // How often the marker has painted (the repaint cost of a pass).
    static int PaintCount(const CHostMarker& marker) { return marker.m_paintCount; }
};
