// Great-circle traces, checked against plain double-precision vector geometry.
#include "trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {
const double PI = 3.14159265358979323846;
const float STEP = 1873.8f;  // the default step in metres
const double MI = STEP / 40000000.0 * 2 * PI;

struct V {
    double x, y, z;
};
V v(const Point& p) { return V{p.x, p.y, p.z}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V cross(V a, V b) { return V{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
// Angle at the centre between two points; sine of a point's angle off the plane with normal n.
double angle(const Point& a, const Point& b) {
    return std::atan2(std::sqrt(dot(cross(v(a), v(b)), cross(v(a), v(b)))), dot(v(a), v(b)));
}
double offPlane(V n, const Point& p) {
    return std::fabs(dot(n, v(p))) / std::sqrt(dot(n, n) * dot(v(p), v(p)));
}
Point head(const GeoTrace& t) { return t.getPoints().front(); }

bool samePlace(const GeoPoint& a, const GeoPoint& b) {
    return a.Latitude == b.Latitude && a.Longtitude == b.Longtitude && a.Altitude == b.Altitude;
}
bool finite(const GeoTrace& t) {
    bool ok = t.getPoints().size() == 33;
    for (GeoPoint g : {t.src(), t.dest()})
        ok = ok && std::isfinite(g.Latitude + g.Longtitude + g.Altitude);
    for (const Point& p : t.getPoints()) ok = ok && std::isfinite(p.x + p.y + p.z);
    return ok;
}
// Moves until arrival (or the limit); the number of calls that returned true.
int travel(GeoTrace& t, float dist, int limit = 20000) {
    int n = 0;
    while (n < limit && t.move(dist)) ++n;
    return n;
}
GeoTrace demo() {
    return GeoTrace(GeoPoint(55, 49.28f, 17.27f, 1200000), GeoPoint(56, 0, -45, 500000));
}
}  // namespace

TEST(TracePolyline, EndsMiddlePlaneAndEvenAltitude) {
    T_PointVector pts = demo().getPoints();
    ASSERT_EQ(pts.size(), 33u);
    EXPECT_TRUE(pts.front() == GeoPoint(49.28f, 17.27f, 1200000).point());
    EXPECT_TRUE(pts.back() == GeoPoint(0, -45, 500000).point());
    EXPECT_NEAR(pts.front().distance(pts.back()), 20.06, 1e-2);
    EXPECT_NEAR(pts[16].x, -4.940, 1e-3);
    EXPECT_NEAR(pts[16].y, 8.336, 1e-3);
    EXPECT_NEAR(pts[16].z, 13.921, 1e-3);
    V n = cross(v(pts.front()), v(pts.back()));
    for (int k = 1; k < 33; ++k) {
        EXPECT_LT(offPlane(n, pts[k]), 1e-6) << k;
        EXPECT_NEAR(pts[k].geoPoint().Altitude, 1200000 - 700000.0 * k / 32, 3) << k;
        EXPECT_GT(angle(pts[0], pts[k]), angle(pts[0], pts[k - 1])) << k;
    }
    pts = GeoTrace(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0)).getPoints();
    for (int k = 1; k < 33; ++k) EXPECT_NEAR(angle(pts[k - 1], pts[k]), PI / 3 / 32, 1e-6) << k;
}

TEST(TraceMove, StepsToArrival) {
    GeoTrace t = demo();
    ASSERT_TRUE(t.move(STEP));
    EXPECT_EQ(t.src().id, 55u);
    EXPECT_LT(t.src().Altitude, 1200000);
    EXPECT_GT(t.src().Altitude, 1190000);
    T_PointVector last = t.getPoints();
    int n = 1;
    for (; n < 5000 && t.move(STEP); ++n) last = t.getPoints();
    EXPECT_GT(n, 2400);
    EXPECT_LT(n, 2500);
    EXPECT_TRUE(samePlace(t.src(), t.dest()));
    EXPECT_EQ(t.src().id, 55u);
    EXPECT_FALSE(t.move(STEP));
    EXPECT_TRUE(t.getPoints() == last);

    GeoTrace eq(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0));
    Point start = head(eq);
    ASSERT_TRUE(eq.move(STEP));
    EXPECT_NEAR(angle(start, head(eq)) * 180 / PI, 0.0337, 1e-4);
    EXPECT_NEAR(1 + travel(eq, STEP), 1780, 10);
    // A step longer than the path arrives at once, however long it is.
    for (float d : {1.2e7f, 2.29e7f, 4e7f, 1e9f}) {
        EXPECT_FALSE(GeoTrace(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0)).move(d)) << d;
    }
}

TEST(TraceMove, HalvingBranchAndRetargeting) {
    GeoTrace t(GeoPoint(3, 0, 0, 1200000), GeoPoint(0, 179, 1200000));
    EXPECT_NEAR(head(t).distance(t.getPoints().back()), 35.5, 0.1);
    ASSERT_TRUE(t.move(STEP));
    EXPECT_EQ(t.src().id, 3u);
    EXPECT_NEAR(t.src().Latitude, 0, 1e-6);
    EXPECT_NEAR(t.src().Altitude, 1200000, 5);
    EXPECT_GT(t.src().Longtitude, 2 * MI);
    EXPECT_LT(t.src().Longtitude, 2.5 * MI);
    EXPECT_TRUE(head(t) == t.src().point());

    Point p(1, 2, 14);
    t.src(p);
    EXPECT_EQ(t.src().id, 0u);
    EXPECT_TRUE(samePlace(t.src(), p.geoPoint()) && head(t) == p);
    t.src(GeoPoint(9, 10, 20, 0));
    EXPECT_EQ(t.src().id, 9u);
    EXPECT_TRUE(head(t) == GeoPoint(10, 20, 0).point());
    t.dest(p);
    EXPECT_EQ(t.dest().id, 0u);
    EXPECT_TRUE(t.getPoints().back() == p);
    t.dest(GeoPoint(12, -10, -20, 300000));
    EXPECT_EQ(t.dest().id, 12u);
    EXPECT_TRUE(t.getPoints().back() == GeoPoint(-10, -20, 300000).point());
    // After arrival the new path starts at the last head position, at the old end's height.
    travel(t, 100000);
    Point last = head(t);
    t.dest(GeoPoint(0, 0, 0));
    EXPECT_TRUE(head(t) == last);
    EXPECT_NEAR(t.getPoints()[1].geoPoint().Altitude, 300000 * 31.0 / 32, 3);
    ASSERT_TRUE(t.move(STEP));
    EXPECT_NEAR(angle(last, head(t)), 2 * MI, 0.3 * MI);
}

TEST(TraceMend, OppositeAndNearOppositeEnds) {
    GeoPoint ends[][2] = {{GeoPoint(0, 0, 0), GeoPoint(0, 180, 0)},
                          {GeoPoint(0, 0, 1200000), GeoPoint(0, 180, 1200000)},
                          {GeoPoint(30, 40, 0), GeoPoint(-30, -140, 0)},
                          {GeoPoint(90, 0, 0), GeoPoint(-90, 0, 0)},
                          {GeoPoint(-20, 10, 0), GeoPoint(20, -170, 2000000)}};
    for (auto& e : ends) {
        GeoTrace t(e[0], e[1]);
        T_PointVector pts = t.getPoints();
        V n = cross(v(pts[0]), v(pts[16]));
        EXPECT_NEAR(angle(pts[0], pts[16]), PI / 2, 1e-3);
        for (const Point& p : pts) EXPECT_LT(offPlane(n, p), 1e-5);
        int calls = 0;
        for (; calls < 1000 && t.move(100000); ++calls) {
            ASSERT_TRUE(finite(t));
            ASSERT_LT(offPlane(n, head(t)), 1e-4) << calls;
        }
        EXPECT_NEAR(calls, PI / (2 * MI * 100000 / STEP), 10);
        EXPECT_TRUE(samePlace(t.src(), t.dest()));
    }
    // Between the poles the path takes the meridian of longitude 0.
    EXPECT_NEAR(GeoTrace(GeoPoint(90, 0, 0), GeoPoint(-90, 0, 0)).getPoints()[16].z, 15, 1e-5);

    // Approaching the antipode changes neither the step nor the count of steps abruptly;
    // above sea level each height is compared with its own exactly opposite case.
    for (float alt : {0.f, 1200000.f}) {
        double firstRef = 0, callsRef = 0;
        for (double delta : {0.0, 1e-5, 1e-4, 1e-3, 1e-2, 0.05, 0.1, 0.3, 1.0, 1.1, 1.5, 3.0}) {
            GeoTrace t(GeoPoint(10, 20, alt), GeoPoint(-10, 200 - delta, alt));
            Point start = head(t);
            ASSERT_TRUE(t.move(STEP));
            double first = angle(start, head(t)) / (2 * MI);
            double calls = 1 + travel(t, STEP);
            if (delta == 0) firstRef = first, callsRef = calls;
            EXPECT_NEAR(first / firstRef, 1, 0.05) << delta << " " << alt;
            EXPECT_NEAR(calls / callsRef, (180 - delta) / 180, 0.01) << delta << " " << alt;
        }
        if (alt == 0) {
            EXPECT_NEAR(callsRef, PI / (2 * MI), 10);
        }
    }
}

TEST(TraceMend, NoArrivalWithoutAStep) {
    GeoTrace same(GeoPoint(1, 20, 30, 0), GeoPoint(2, 20, 30, 0));
    for (float d : {0.f, -5.f, STEP}) EXPECT_FALSE(same.move(d)) << d;
    EXPECT_TRUE(finite(same));

    GeoTrace t = demo();
    T_PointVector before = t.getPoints();
    for (float d : {0.f, -1000.f, -1e30f, NAN}) EXPECT_TRUE(t.move(d)) << d;
    EXPECT_TRUE(t.getPoints() == before);
    EXPECT_TRUE(samePlace(t.src(), demo().src()));
    travel(t, 1e6);
    EXPECT_FALSE(t.move(0));

    // Steps too short to register must not pass for arrival through rounding.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-85, 85);
    for (int i = 0; i < 2000; ++i) {
        GeoTrace r(GeoPoint(u(rng), 2 * u(rng), i % 2 * 1e6f), GeoPoint(u(rng), 2 * u(rng), 0));
        ASSERT_TRUE(r.move(1e-3f)) << i;
    }
}

TEST(TraceMend, RandomOperationsLeaveNoNaN) {
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<float> u(0, 1);
    auto place = [&]() {
        return GeoPoint(u(rng) * 180 - 90, u(rng) * 800 - 400, u(rng) * 4.7e7f - 7e6f);
    };
    auto point = [&]() {
        return Point(u(rng) * 200 - 100, u(rng) * 200 - 100, u(rng) * 200 - 100);
    };
    GeoTrace t(place(), place());
    for (int i = 0; i < 3000; ++i) {
        GeoPoint a = t.src();
        switch (rng() % 10) {
            case 0: t.src(place()); break;
            case 1: t.dest(place()); break;
            case 2: t.src(rng() % 2 ? center : point()); break;
            case 3: t.dest(rng() % 2 ? head(t) * -1.0f : point()); break;
            case 4:
                t.dest(GeoPoint(-a.Latitude * 180 / PI, a.Longtitude * 180 / PI + 180, a.Altitude));
                break;
            case 5: t.src(t.dest()); break;
            default: t.move(std::pow(10.0f, u(rng) * 12 - 3) * (rng() % 5 ? 1 : -1)); break;
        }
        ASSERT_TRUE(finite(t)) << i;
    }
}

// The head stays on the great circle between the two ends, ends where dest() says, and at
// sea level each step covers twice the step angle (to first order: the check keeps away
// from the antipode, where the next term grows).
TEST(TraceTravel, RandomPairsFollowTheGreatCircle) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> u(0, 1);
    const float dist = 20000;
    const double mi = MI * dist / STEP;
    for (int pair = 0; pair < 40; ++pair) {
        bool sea = pair % 2 == 0;
        GeoPoint s(u(rng) * 170 - 85, u(rng) * 360 - 180, sea ? 0 : u(rng) * 2e6f);
        GeoPoint d(u(rng) * 170 - 85, u(rng) * 360 - 180, sea ? 0 : u(rng) * 2e6f);
        Point ps = s.point(), pd = d.point(), prev = ps;
        double total = angle(ps, pd);
        if (total < 0.02 || total > PI - 0.02) continue;
        GeoTrace t(s, d);
        for (int calls = 0; t.move(dist); ++calls) {
            Point h = head(t);
            ASSERT_LT(offPlane(cross(v(ps), v(pd)), h), 1e-5) << pair << " " << calls;
            ASSERT_NEAR(angle(ps, h) + angle(h, pd), total, 1e-5) << pair << " " << calls;
            ASSERT_GT(angle(ps, h), angle(ps, prev)) << pair << " " << calls;
            double left = angle(prev, pd);
            if (sea && left > 10 * mi && left < 2.6) {
                ASSERT_NEAR(angle(prev, h) / (2 * mi), 1, 0.015) << pair << " " << calls;
            }
            prev = h;
            ASSERT_LT(calls, 20000);
        }
        EXPECT_TRUE(samePlace(t.src(), d));
        EXPECT_LT(angle(prev, pd), (sea ? 2.01 : 2.5) * mi) << pair;
    }
}
