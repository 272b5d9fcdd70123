#pragma once
// What the host marker's tests read inside it, kept out of its public surface.

#include "ui/host_marker.h"

class CHostMarkerTestPeer {
public:
    // The host's value shown, or none while the marker is hidden.
    static std::optional<int> HostValue(const CHostMarker& marker) { return marker.m_host; }
    static CHostMarker::Verdict CurrentVerdict(const CHostMarker& marker) {
        return marker.m_verdict;
    }
    // How often the marker has painted (the repaint cost of a pass).
    static int PaintCount(const CHostMarker& marker) { return marker.m_paintCount; }
};
