// Great-circle traces: the polyline, stepping, retargeting and the travel itself,
// checked against plain double-precision vector geometry.
#include "trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

const double PI = 3.14159265358979323846;
const float STEP = 1873.8f;  // the default step in metres

struct V {
    double x, y, z;
};
V v(const Point& p) { return V{p.x, p.y, p.z}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V cross(V a, V b) { return V{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double len(V a) { return std::sqrt(dot(a, a)); }
V unit(V a) {
    double l = len(a);
    return V{a.x / l, a.y / l, a.z / l};
}
// Angle at the centre between two scene points, radians.
double angle(const Point& a, const Point& b) {
    return std::atan2(len(cross(v(a), v(b))), dot(v(a), v(b)));
}
// Step angle of a distance along the surface, radians.
double stepAngle(float dist) { return dist / 40000000.0 * 2 * PI; }
// Distance of a point's direction from the plane with unit normal n.
double offPlane(V n, const Point& p) { return std::fabs(dot(n, unit(v(p)))); }

GeoTrace demo() {
    return GeoTrace(GeoPoint(55, 49.28f, 17.27f, 1200000), GeoPoint(56, 0, -45, 500000));
}

bool finite(const GeoPoint& g) {
    return std::isfinite(g.Latitude) && std::isfinite(g.Longtitude) && std::isfinite(g.Altitude);
}
bool finite(const GeoTrace& t) {
    T_PointVector pts = t.getPoints();
    bool ok = pts.size() == 33 && finite(t.src()) && finite(t.dest());
    for (const Point& p : pts)
        ok = ok && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
    return ok;
}
bool samePlace(const GeoPoint& a, const GeoPoint& b) {
    return a.Latitude == b.Latitude && a.Longtitude == b.Longtitude && a.Altitude == b.Altitude;
}
bool samePoints(const T_PointVector& a, const T_PointVector& b) {
    bool same = a.size() == b.size();
    for (size_t i = 0; same && i < a.size(); ++i) same = a[i] == b[i];
    return same;
}

// Moves until arrival; returns the number of calls that returned true.
int travel(GeoTrace& t, float dist, int limit = 100000) {
    int n = 0;
    while (n < limit && t.move(dist)) ++n;
    return n;
}

}  // namespace

TEST(TracePolyline, DemonstrationTrace) {
    GeoTrace t = demo();
    T_PointVector pts = t.getPoints();
    ASSERT_EQ(pts.size(), 33u);
    EXPECT_TRUE(pts.front() == GeoPoint(49.28f, 17.27f, 1200000).point());
    EXPECT_NEAR(pts.front().x, 3.441, 1e-3);
    EXPECT_NEAR(pts.front().y, 13.467, 1e-3);
    EXPECT_NEAR(pts.front().z, 11.069, 1e-3);
    EXPECT_TRUE(pts.back() == GeoPoint(0, -45, 500000).point());
    EXPECT_NEAR(pts.back().x, -11.42, 1e-2);
    EXPECT_NEAR(pts.back().z, 11.42, 1e-2);
    EXPECT_NEAR(pts.front().distance(pts.back()), 20.06, 1e-2);
    EXPECT_NEAR(pts[16].x, -4.940, 1e-3);
    EXPECT_NEAR(pts[16].y, 8.336, 1e-3);
    EXPECT_NEAR(pts[16].z, 13.921, 1e-3);

    V n = unit(cross(v(pts.front()), v(pts.back())));
    for (int k = 0; k < 33; ++k) {
        EXPECT_LT(offPlane(n, pts[k]), 1e-6) << k;
        EXPECT_NEAR(pts[k].geoPoint().Altitude, 1200000 - 700000.0 * k / 32, 3) << k;
        if (k > 0) {
            EXPECT_GT(angle(pts.front(), pts[k]), angle(pts.front(), pts[k - 1])) << k;
        }
    }
}

TEST(TracePolyline, EqualAltitudesDivideTheArcEvenly) {
    GeoTrace t(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0));
    T_PointVector pts = t.getPoints();
    for (int k = 1; k < 33; ++k) EXPECT_NEAR(angle(pts[k - 1], pts[k]), PI / 3 / 32, 1e-6) << k;
}

TEST(TraceMove, DemonstrationTraceArrives) {
    GeoTrace t = demo();
    ASSERT_TRUE(t.move(STEP));
    EXPECT_EQ(t.src().id, 55u);
    EXPECT_LT(t.src().Altitude, 1200000);
    EXPECT_GT(t.src().Altitude, 1190000);

    T_PointVector last = t.getPoints();
    int n = 1;
    while (t.move(STEP)) {
        last = t.getPoints();
        ++n;
    }
    EXPECT_GT(n, 2400);
    EXPECT_LT(n, 2500);
    EXPECT_TRUE(samePlace(t.src(), t.dest()));
    EXPECT_EQ(t.src().id, 55u);
    EXPECT_TRUE(samePoints(t.getPoints(), last));
    EXPECT_LT(angle(last.front(), last.back()), 2 * stepAngle(STEP));
    EXPECT_FALSE(t.move(STEP));
    EXPECT_FALSE(t.move(2 * STEP));
    EXPECT_TRUE(samePoints(t.getPoints(), last));
}

TEST(TraceMove, SixtyDegreesAtSeaLevel) {
    GeoTrace t(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0));
    Point start = t.getPoints().front();
    ASSERT_TRUE(t.move(STEP));
    EXPECT_NEAR(angle(start, t.getPoints().front()) * 180 / PI, 0.0337, 1e-4);
    int n = 1 + travel(t, STEP);
    EXPECT_NEAR(n, 1780, 10);
}

TEST(TraceMove, HalvingBranchAboveSeaLevel) {
    GeoTrace t(GeoPoint(3, 0, 0, 1200000), GeoPoint(0, 179, 1200000));
    T_PointVector pts = t.getPoints();
    EXPECT_NEAR(pts.front().distance(pts.back()), 35.5, 0.1);
    ASSERT_TRUE(t.move(STEP));
    GeoPoint head = t.src();
    EXPECT_EQ(head.id, 3u);
    EXPECT_NEAR(head.Latitude, 0, 1e-6);
    EXPECT_NEAR(head.Altitude, 1200000, 5);
    EXPECT_GT(head.Longtitude, 2 * stepAngle(STEP));
    EXPECT_LT(head.Longtitude, 2.5 * stepAngle(STEP));
    EXPECT_TRUE(t.getPoints().front() == head.point());
}

TEST(TraceRetarget, SrcAndDestInBothForms) {
    GeoTrace t = demo();
    Point p(1, 2, 14);
    t.src(p);
    EXPECT_EQ(t.src().id, 0u);
    EXPECT_TRUE(samePlace(t.src(), p.geoPoint()));
    EXPECT_TRUE(t.getPoints().front() == p);
    t.src(GeoPoint(9, 10, 20, 0));
    EXPECT_EQ(t.src().id, 9u);
    EXPECT_TRUE(t.getPoints().front() == GeoPoint(10, 20, 0).point());
    t.dest(p);
    EXPECT_EQ(t.dest().id, 0u);
    EXPECT_TRUE(t.getPoints().back() == p);
    t.dest(GeoPoint(12, -10, -20, 300000));
    EXPECT_EQ(t.dest().id, 12u);
    EXPECT_TRUE(t.getPoints().back() == GeoPoint(-10, -20, 300000).point());

    // After arrival the new path starts from the last head position, at the old end's height.
    travel(t, 100000);
    Point head = t.getPoints().front();
    t.dest(GeoPoint(0, 0, 0));
    T_PointVector pts = t.getPoints();
    EXPECT_TRUE(pts.front() == head);
    EXPECT_NEAR(pts[1].geoPoint().Altitude, 300000 * 31.0 / 32, 3);
    ASSERT_TRUE(t.move(STEP));
    EXPECT_NEAR(angle(head, t.getPoints().front()), 2 * stepAngle(STEP), 0.1 * stepAngle(STEP));
}

TEST(TraceMend, OppositeEndsFollowAFixedGreatCircle) {
    struct Ends {
        GeoPoint s, d;
    };
    Ends cases[] = {{GeoPoint(0, 0, 0), GeoPoint(0, 180, 0)},
                    {GeoPoint(0, 0, 1200000), GeoPoint(0, 180, 1200000)},
                    {GeoPoint(30, 40, 0), GeoPoint(-30, -140, 0)},
                    {GeoPoint(90, 0, 0), GeoPoint(-90, 0, 0)},
                    {GeoPoint(-20, 10, 0), GeoPoint(20, -170, 2000000)}};
    const float dist = 100000;
    for (const Ends& e : cases) {
        GeoTrace t(e.s, e.d);
        ASSERT_TRUE(finite(t));
        T_PointVector pts = t.getPoints();
        V n = unit(cross(v(pts.front()), v(pts[16])));
        EXPECT_NEAR(angle(pts.front(), pts[16]), PI / 2, 1e-3);
        for (const Point& p : pts) EXPECT_LT(offPlane(n, p), 1e-5);
        int calls = 0;
        while (t.move(dist)) {
            ASSERT_TRUE(finite(t));
            EXPECT_LT(offPlane(n, t.getPoints().front()), 1e-4) << calls;
            ASSERT_LT(++calls, 1000);
        }
        EXPECT_NEAR(calls, PI / (2 * stepAngle(dist)), 10);
        EXPECT_TRUE(samePlace(t.src(), t.dest()));
    }
    // Between the poles the path takes the meridian of longitude 0.
    GeoTrace poles(GeoPoint(90, 0, 0), GeoPoint(-90, 0, 0));
    Point mid = poles.getPoints()[16];
    EXPECT_NEAR(mid.x, 0, 1e-5);
    EXPECT_NEAR(mid.z, 15, 1e-5);
}

TEST(TraceMend, NearOppositeEndsBehaveContinuously) {
    for (double delta : {0.0, 1e-5, 1e-4, 1e-3, 1e-2, 0.05, 0.1, 0.3, 1.0, 1.1, 1.5, 3.0}) {
        for (float alt : {0.f, 1200000.f}) {
            GeoTrace t(GeoPoint(10, 20, alt), GeoPoint(-10, 200 - delta, alt));
            Point start = t.getPoints().front();
            ASSERT_TRUE(t.move(STEP));
            double first = angle(start, t.getPoints().front()) / (2 * stepAngle(STEP));
            int calls = 1 + travel(t, STEP);
            double expected = (180 - delta) * PI / 180 / (2 * stepAngle(STEP));
            // Above sea level the chord step runs a little long (its constants are the
            // sea-level sphere's); the counts must still vary smoothly with delta.
            double factor = alt == 0 ? 1.0 : 1.1;
            EXPECT_NEAR(first, factor, 0.04) << delta << " " << alt;
            EXPECT_NEAR(calls * factor / expected, 1, 0.02) << delta << " " << alt;
        }
    }
}

TEST(TraceMend, CoincidentEndsAndStepsOfZeroOrLess) {
    GeoTrace same(GeoPoint(1, 20, 30, 0), GeoPoint(2, 20, 30, 0));
    EXPECT_FALSE(same.move(0));
    EXPECT_FALSE(same.move(-5));
    EXPECT_FALSE(same.move(STEP));
    EXPECT_TRUE(finite(same));

    GeoTrace t = demo();
    T_PointVector before = t.getPoints();
    GeoPoint head = t.src();
    EXPECT_TRUE(t.move(0));
    EXPECT_TRUE(t.move(-1000));
    EXPECT_TRUE(t.move(-1e30f));
    EXPECT_TRUE(t.move(NAN));
    EXPECT_TRUE(samePoints(t.getPoints(), before));
    EXPECT_TRUE(samePlace(t.src(), head));
    // Steps too short to register never count as arrival.
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(t.move(1e-3f)) << i;
    EXPECT_LT(angle(before.front(), t.getPoints().front()), 1e-5);

    travel(t, 1e6);
    EXPECT_FALSE(t.move(0));
}

TEST(TraceMend, RandomOperationsLeaveNoNaN) {
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<float> u(0, 1);
    auto place = [&]() {
        return GeoPoint(static_cast<int>(rng() % 100), u(rng) * 180 - 90, u(rng) * 800 - 400,
                        u(rng) * 4.7e7f - 7e6f);
    };
    auto point = [&]() {
        return Point(u(rng) * 200 - 100, u(rng) * 200 - 100, u(rng) * 200 - 100);
    };
    GeoTrace t(place(), place());
    for (int i = 0; i < 3000; ++i) {
        GeoPoint a = t.src(), b = t.dest();
        switch (rng() % 10) {
            case 0:
                t.src(place());
                break;
            case 1:
                t.dest(place());
                break;
            case 2:
                t.src(rng() % 2 ? center : point());
                break;
            case 3:
                t.dest(rng() % 2 ? t.getPoints().front() * -1.0f : point());
                break;
            case 4:
                t.dest(GeoPoint(-a.Latitude * 180 / PI, a.Longtitude * 180 / PI + 180, a.Altitude));
                break;
            case 5:
                t.src(b);
                break;
            default:
                t.move(std::pow(10.0f, u(rng) * 12 - 3) * (rng() % 5 ? 1 : -1));
                break;
        }
        ASSERT_TRUE(finite(t)) << i;
    }
}

// Independent of the trace's arithmetic: the head must stay on the plane of the two ends
// and between them, and end where dest() says.
TEST(TraceTravel, RandomPairsFollowTheGreatCircle) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> u(0, 1);
    const float dist = 20000;
    const double mi = stepAngle(dist);
    for (int pair = 0; pair < 40; ++pair) {
        bool sea = pair % 2 == 0;
        GeoPoint s(u(rng) * 170 - 85, u(rng) * 360 - 180, sea ? 0 : u(rng) * 2e6f);
        GeoPoint d(u(rng) * 170 - 85, u(rng) * 360 - 180, sea ? 0 : u(rng) * 2e6f);
        Point ps = s.point(), pd = d.point();
        double total = angle(ps, pd);
        if (total < 0.02 || total > PI - 0.02) continue;
        V n = unit(cross(v(ps), v(pd)));
        GeoTrace t(s, d);
        Point prev = ps;
        int calls = 0;
        while (t.move(dist)) {
            Point head = t.getPoints().front();
            ASSERT_LT(offPlane(n, head), 1e-5) << pair << " " << calls;
            ASSERT_NEAR(angle(ps, head) + angle(head, pd), total, 1e-5) << pair << " " << calls;
            ASSERT_GT(angle(ps, head), angle(ps, prev)) << pair << " " << calls;
            if (sea && angle(head, pd) > 10 * mi) {
                ASSERT_NEAR(angle(prev, head) / (2 * mi), 1, 0.01) << pair << " " << calls;
            }
            prev = head;
            ASSERT_LT(++calls, 100000);
        }
        EXPECT_TRUE(samePlace(t.src(), d));
        EXPECT_LT(angle(prev, pd), (sea ? 2.01 : 2.5) * mi) << pair;
    }
}
