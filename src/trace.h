// Great-circle traces: a head travelling over the globe from a source place to a
// destination place, with the altitude changing evenly between the two ends.
#ifndef TERRALUX_TRACE_H
#define TERRALUX_TRACE_H

#include <vector>

#include "point.h"

class GeoTrace {
public:
    GeoTrace(GeoPoint s, GeoPoint d);

    // New source (the head) or destination; the polyline is rebuilt. A Point gives the
    // geographic end id 0, a GeoPoint keeps its own id.
    void src(Point s);
    void dest(Point d);
    void src(GeoPoint s);
    void dest(GeoPoint d);
    GeoPoint src() const { return g1; }
    GeoPoint dest() const { return g2; }

    // Carries the head dist metres along the surface (a full great circle counts as
    // 40,000,000 m) towards the destination. False once the head has arrived; with
    // dist <= 0 nothing moves and the result tells whether the head is still away.
    bool move(float dist);

    // A copy of the 33-point polyline from the head to the destination.
    T_PointVector getPoints() const { return points; }

private:
    GeoPoint g1;  // the source: where the head is now
    GeoPoint g2;  // the destination
    Point p1;     // scene position of g1
    Point p2;     // scene position of g2
    T_PointVector points;

    void computePoints();
};

typedef std::vector<GeoTrace> T_TraceVector;

#endif
